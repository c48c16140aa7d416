// A folder's PropertyAccessor in the stand-in, as Outlook documents it: what the uninstaller
// relies on when it resets a task folder's default form without Extended MAPI.
#include "tests/unit/outlook/StandinClient.h"

#include <cstdio>

using namespace standintest;

namespace {

const char Profile[] = "store \"P\" id=0A0B\r\n"
                       "  folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task.Plendrax\" "
                       "displayname=\"Plendrax\"\r\n";

const HRESULT NotFound = HRESULT(0x8004010F);         // MAPI_E_NOT_FOUND
const HRESULT InvalidParameter = HRESULT(0x80070057); // MAPI_E_INVALID_PARAMETER

// A schema name of the MAPI proptag namespace.
VARIANT Tag(const wchar_t* hex) {
    return Text((std::wstring(L"http://schemas.microsoft.com/mapi/proptag/0x") + hex).c_str());
}
VARIANT MsgClass() {
    return Tag(L"36E5001E");
}
VARIANT DisplayName() {
    return Tag(L"36E6001E");
}

// A one-dimensional array the test owns, of VARIANTs or of BSTRs.
struct Array {
    VARIANT value;
    explicit Array(const std::vector<VARIANT>& elements, VARTYPE type = VT_VARIANT) {
        VariantInit(&value);
        value.vt = VT_ARRAY | type;
        value.parray = SafeArrayCreateVector(type, 0, ULONG(elements.size()));
        REQUIRE(value.parray != nullptr);
        for (LONG n = 0; n < LONG(elements.size()); ++n) {
            VARIANT element = elements[size_t(n)];
            void* put = type == VT_BSTR ? static_cast<void*>(element.bstrVal) : &element;
            REQUIRE(SafeArrayPutElement(value.parray, &n, put) == S_OK);
        }
    }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    ~Array() { VariantClear(&value); }
};

// The elements of an answered VT_ARRAY | VT_VARIANT: a text as it is, an error as ERROR:0x...
std::vector<std::string> Elements(const VARIANT& answer) {
    if (answer.vt != (VT_ARRAY | VT_VARIANT) || SafeArrayGetDim(answer.parray) != 1)
        return {"not an array: VT" + std::to_string(answer.vt)};
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(answer.parray, 1, &lower);
    SafeArrayGetUBound(answer.parray, 1, &upper);
    std::vector<std::string> elements;
    for (LONG n = lower; n <= upper; ++n) {
        VARIANT element;
        VariantInit(&element);
        REQUIRE(SafeArrayGetElement(answer.parray, &n, &element) == S_OK);
        char text[200];
        if (element.vt == VT_BSTR)
            snprintf(text, sizeof text, "%ls", element.bstrVal);
        else if (element.vt == VT_ERROR)
            snprintf(text, sizeof text, "ERROR:0x%08lX", static_cast<unsigned long>(element.scode));
        else
            snprintf(text, sizeof text, "VT%u", unsigned(element.vt));
        elements.push_back(text);
        VariantClear(&element);
    }
    return elements;
}

// The Tasks folder's accessor, fetched anew.
void Accessor(Server& server, Call& folder, Call& accessor) {
    server.TasksFolder(folder);
    Invoke(accessor, folder.Object(), OutlookDispId::PropertyAccessor, DISPATCH_PROPERTYGET);
}

} // namespace

TEST_CASE("a folder's PropertyAccessor gets and sets its string properties as documented") {
    Server server(Profile);
    Call folder, accessor;
    Accessor(server, folder, accessor);
    REQUIRE(accessor.Object() != nullptr);
    IDispatch* properties = accessor.Object();

    SUBCASE("GetProperty: a value by either string type; a missing property raises NOT_FOUND") {
        Call narrow, wide, missing, malformed;
        Invoke(narrow, properties, OutlookDispId::GetProperty, DISPATCH_METHOD, {MsgClass()});
        REQUIRE(narrow.value.vt == VT_BSTR);
        CHECK(std::wstring(narrow.value.bstrVal) == L"IPM.Task.Plendrax");
        Invoke(wide, properties, OutlookDispId::GetProperty, DISPATCH_METHOD, {Tag(L"36e6001f")});
        REQUIRE(wide.value.vt == VT_BSTR);
        CHECK(std::wstring(wide.value.bstrVal) == L"Plendrax");
        Invoke(missing, properties, OutlookDispId::GetProperty, DISPATCH_METHOD,
               {Tag(L"3001001E")});
        CHECK(missing.result == DISP_E_EXCEPTION);
        CHECK(missing.scode == NotFound);
        CHECK(missing.value.vt == VT_EMPTY);
        Invoke(malformed, properties, OutlookDispId::GetProperty, DISPATCH_METHOD, {Tag(L"36E5")});
        CHECK(malformed.scode == InvalidParameter);
    }
    SUBCASE("GetProperties: one element per name, VT_ERROR for one that cannot be got") {
        Array names({MsgClass(), Tag(L"3001001E"), DisplayName()});
        Call got, asTexts, notArray;
        Invoke(got, properties, OutlookDispId::GetProperties, DISPATCH_METHOD, {names.value});
        CHECK(got.result == S_OK);
        CHECK(Elements(got.value) ==
              std::vector<std::string>{"IPM.Task.Plendrax", "ERROR:0x8004010F", "Plendrax"});
        Array texts({DisplayName(), Tag(L"nothex!!")}, VT_BSTR);
        Invoke(asTexts, properties, OutlookDispId::GetProperties, DISPATCH_METHOD, {texts.value});
        CHECK(Elements(asTexts.value) == std::vector<std::string>{"Plendrax", "ERROR:0x80070057"});
        VARIANT reference;
        VariantInit(&reference);
        reference.vt = VT_BYREF | VT_VARIANT;
        reference.pvarVal = &texts.value;
        Call byReference;
        Invoke(byReference, properties, OutlookDispId::GetProperties, DISPATCH_METHOD, {reference});
        CHECK(Elements(byReference.value) ==
              std::vector<std::string>{"Plendrax", "ERROR:0x80070057"});
        Invoke(notArray, properties, OutlookDispId::GetProperties, DISPATCH_METHOD, {MsgClass()});
        CHECK(notArray.result == DISP_E_EXCEPTION);
    }
    SUBCASE("SetProperties: stored at once; per-property errors; an error before any is set") {
        Array names({MsgClass(), DisplayName()});
        Array standard({Text(L"IPM.Task"), Text(L"Task")});
        Call set, again, reread;
        Invoke(set, properties, OutlookDispId::SetProperties, DISPATCH_METHOD,
               {names.value, standard.value});
        CHECK(set.result == S_OK);
        CHECK(set.value.vt == VT_EMPTY);
        // No Save: another accessor of the folder reads the new values.
        Call otherFolder, other;
        Accessor(server, otherFolder, other);
        Invoke(reread, other.Object(), OutlookDispId::GetProperties, DISPATCH_METHOD,
               {names.value});
        CHECK(Elements(reread.value) == std::vector<std::string>{"IPM.Task", "Task"});

        // A class outside the folder's own, and a value that is no text, fail alone.
        Array wrong({Text(L"IPM.Note"), Text(L"Other")});
        Array derived({Text(L"IPM.Task.Custom"), Long(5)});
        Call refused, mixed, after;
        Invoke(refused, properties, OutlookDispId::SetProperties, DISPATCH_METHOD,
               {names.value, wrong.value});
        CHECK(refused.result == S_OK);
        CHECK(Elements(refused.value) == std::vector<std::string>{"ERROR:0x80070057", "VT0"});
        Invoke(mixed, properties, OutlookDispId::SetProperties, DISPATCH_METHOD,
               {names.value, derived.value});
        CHECK(Elements(mixed.value) == std::vector<std::string>{"VT0", "ERROR:0x80020005"});
        Invoke(after, properties, OutlookDispId::GetProperties, DISPATCH_METHOD, {names.value});
        CHECK(Elements(after.value) == std::vector<std::string>{"IPM.Task.Custom", "Other"});

        Array one({Text(L"IPM.Task")});
        Call counts, notArrays;
        Invoke(counts, properties, OutlookDispId::SetProperties, DISPATCH_METHOD,
               {names.value, one.value});
        CHECK(counts.result == S_OK);
        CHECK(counts.value.vt == VT_ERROR);
        Invoke(notArrays, properties, OutlookDispId::SetProperties, DISPATCH_METHOD,
               {MsgClass(), Text(L"IPM.Task")});
        CHECK(notArrays.value.vt == VT_ERROR);
        Call unchanged;
        Invoke(unchanged, properties, OutlookDispId::GetProperty, DISPATCH_METHOD, {MsgClass()});
        CHECK(std::wstring(unchanged.value.bstrVal) == L"IPM.Task.Custom");
    }
    SUBCASE("SetProperty: the same rules, raised; two arguments in their order") {
        Call fine, refused, oneArgument, read;
        Invoke(fine, properties, OutlookDispId::SetProperty, DISPATCH_METHOD,
               {DisplayName(), Text(L"Task")});
        CHECK(fine.result == S_OK);
        Invoke(refused, properties, OutlookDispId::SetProperty, DISPATCH_METHOD,
               {MsgClass(), Text(L"IPM.Taskforce")});
        CHECK(refused.result == DISP_E_EXCEPTION);
        CHECK(refused.scode == InvalidParameter);
        Invoke(oneArgument, properties, OutlookDispId::SetProperty, DISPATCH_METHOD,
               {DisplayName()});
        CHECK(oneArgument.result == DISP_E_BADPARAMCOUNT);
        Invoke(read, properties, OutlookDispId::GetProperty, DISPATCH_METHOD, {DisplayName()});
        CHECK(std::wstring(read.value.bstrVal) == L"Task");
    }
}

TEST_CASE("the PropertyAccessor's calls fail, count and are recorded as the others; one "
          "property can fail alone") {
    DeleteFileA("C:\\sandbox\\log\\outlook.log");
    DeleteFileA("C:\\sandbox\\log\\calls.log");
    DeleteFileA("C:\\sandbox\\log\\profile.out");
    {
        Server server(std::string(Profile) +
                      "fail \"P/Tasks\" PropertyAccessor 1 0x80040115\r\n"
                      "fail \"P/Tasks.PropertyAccessor\" GetProperty 1\r\n"
                      "fail \"P/Tasks.PropertyAccessor\" GetProperties 1 0x8004010E\r\n"
                      "fail \"P/Tasks.PropertyAccessor\" SetProperty 1\r\n"
                      "fail \"P/Tasks.PropertyAccessor\" SetProperties:0x36E6001E 1 "
                      "0x80070005\r\n");
        Call refusedFolder, refused, folder, accessor;
        Accessor(server, refusedFolder, refused);
        CHECK(refused.result == DISP_E_EXCEPTION);
        CHECK(refused.scode == HRESULT(0x80040115));
        Accessor(server, folder, accessor);
        REQUIRE(accessor.Object() != nullptr);
        IDispatch* properties = accessor.Object();
        Array names({MsgClass(), DisplayName()});
        Array standard({Text(L"IPM.Task"), Text(L"Task")});
        Call get, gets, set, sets, again, read;
        Invoke(get, properties, OutlookDispId::GetProperty, DISPATCH_METHOD, {MsgClass()});
        CHECK(get.scode == HRESULT(0x80004005));
        Invoke(gets, properties, OutlookDispId::GetProperties, DISPATCH_METHOD, {names.value});
        CHECK(gets.scode == HRESULT(0x8004010E));
        Invoke(set, properties, OutlookDispId::SetProperty, DISPATCH_METHOD,
               {MsgClass(), Text(L"IPM.Task")});
        CHECK(set.scode == HRESULT(0x80004005));
        // The display name fails alone; the class is set all the same.
        Invoke(sets, properties, OutlookDispId::SetProperties, DISPATCH_METHOD,
               {names.value, standard.value});
        CHECK(sets.result == S_OK);
        CHECK(Elements(sets.value) == std::vector<std::string>{"VT0", "ERROR:0x80070005"});
        Invoke(read, properties, OutlookDispId::GetProperties, DISPATCH_METHOD, {names.value});
        CHECK(Elements(read.value) == std::vector<std::string>{"IPM.Task", "Plendrax"});
        Invoke(again, properties, OutlookDispId::SetProperties, DISPATCH_METHOD,
               {names.value, standard.value});
        CHECK(again.value.vt == VT_EMPTY);
    }
    std::vector<std::string> log = ReadLines("C:\\sandbox\\log\\outlook.log");
    CHECK(CountContaining(log, "invoke object=\"P/Tasks\" member=PropertyAccessor flags=2") == 2);
    CHECK(CountContaining(log,
                          "invoke object=\"P/Tasks.PropertyAccessor\" member=SetProperties flags=1 "
                          "args=[ARRAY:[BSTR:http://schemas.microsoft.com/mapi/proptag/0x36E5001E;"
                          "BSTR:http://schemas.microsoft.com/mapi/proptag/0x36E6001E],ARRAY:["
                          "BSTR:IPM.Task;BSTR:Task]] result=yes -> 0x00000000") == 2);
    CHECK(CountContaining(log, "member=GetProperty ", "scode=0x80004005") == 1);
    std::vector<std::string> calls = ReadLines("C:\\sandbox\\log\\calls.log");
    CHECK(CountContaining(calls, "\"P/Tasks.PropertyAccessor\" GetProperties") == 2);
    CHECK(CountContaining(calls, "\"P/Tasks.PropertyAccessor\" SetProperties") == 2);
    // Stored in the profile that MAPI32's stand-in serves, written out when the server went.
    CHECK(ReadWholeFile("C:\\sandbox\\log\\profile.out")
              .find("folder \"Tasks\" type=3 id=00AA01 msgclass=\"IPM.Task\" "
                    "displayname=\"Task\"\r\n") != std::string::npos);
}
