// Reads the resources of the shipped UninstallPX.exe staged in the sandbox, as the shell and
// the dialog manager see them (the PE32 exe on either arm: reading needs no execution).
#include <doctest.h>

#include "app/resources/resource.h"
#include "sandbox/common/Layout.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

const WORD ukEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK); // 2057

struct Module {
    HMODULE handle = LoadLibraryExA(SANDBOX_SHIPPED_UNINSTALLER, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ~Module() {
        if (handle)
            FreeLibrary(handle);
    }
};

std::vector<BYTE> Resource(HMODULE module, LPCSTR type, LPCSTR name, WORD language) {
    HRSRC found = FindResourceExA(module, type, name, language);
    if (found == nullptr)
        return {};
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    return std::vector<BYTE>(data, data + SizeofResource(module, found));
}

// A string table entry read from its block, so that the language is checked too.
std::string TableString(HMODULE module, UINT id) {
    std::vector<BYTE> block = Resource(module, RT_STRING, MAKEINTRESOURCEA(id / 16 + 1), ukEnglish);
    const WCHAR* p = reinterpret_cast<const WCHAR*>(block.data());
    if (block.empty())
        return "<missing>";
    for (UINT i = 0; i < id % 16; ++i)
        p += 1 + *p;
    std::wstring wide(p + 1, *p);
    std::string text;
    for (WCHAR c : wide)
        text += char(c);
    return text;
}

struct Reader {
    const BYTE* p;
    WORD Word() {
        WORD value = *reinterpret_cast<const WORD*>(p);
        p += 2;
        return value;
    }
    DWORD Dword() {
        DWORD value = *reinterpret_cast<const DWORD*>(p);
        p += 4;
        return value;
    }
    std::string Text() {
        std::string text;
        while (WORD c = Word())
            text += char(c);
        return text;
    }
    void Align(const BYTE* base) {
        while ((p - base) % 4)
            ++p;
    }
};

const std::string text3 =
    "Not all of Plendrax's components were successfully removed. This could be because you do "
    "not have sufficient rights to remove files, or because some of Plendrax's components were "
    "moved after installation.";
const std::string text5 = "Plendrax has been successfully uninstalled.";

} // namespace

TEST_CASE("the string table holds exactly the eight texts, in UK English") {
    Module exe;
    REQUIRE(exe.handle != nullptr);
    CHECK(TableString(exe.handle, IDS_FAILED) == "Failed");
    CHECK(TableString(exe.handle, IDS_CONFIRM_REMOVE) ==
          "Are you sure you want to completely remove Plendrax from your computer?");
    CHECK(TableString(exe.handle, IDS_NOT_ALL_REMOVED) == text3);
    CHECK(TableString(exe.handle, IDS_FOLDERS_UNPROCESSED) ==
          "Uninstall has been unable to process your Outlook folders. Uninstall is stopping. "
          "Try rebooting your machine and running uninstall again.");
    CHECK(TableString(exe.handle, IDS_UNINSTALLED) == text5);
    CHECK(TableString(exe.handle, IDS_RESTORE_POINT_NAME) == "Removed %s");
    CHECK(TableString(exe.handle, IDS_UNINSTALLED_MANUAL) ==
          text5 +
              "\n\nYou may now wish to make the standard Outlook task form the default form for "
              "your task folders. Uninstall cannot do this for you. Please consult the document "
              "UninstallPX.doc, which should now be open.");
    CHECK(TableString(exe.handle, IDS_NOT_ALL_REMOVED_MANUAL) ==
          text3 +
              "\n\nOptionally, you may now wish to remove the Plendrax form from Outlook. Please "
              "consult the document UninstallPX.doc, which should now be open.");
    CHECK(TableString(exe.handle, IDS_NOT_ALL_REMOVED_MANUAL).size() == 347);
    CHECK(TableString(exe.handle, IDS_UNINSTALLED_MANUAL).size() == 245);
    CHECK(TableString(exe.handle, IDS_NOT_ALL_REMOVED).size() == 204);
    CHECK(TableString(exe.handle, IDS_FOLDERS_UNPROCESSED).size() == 137);
    // Nothing beyond the eight entries: the block holds ids 0 to 15, 0 and 9 to 15 empty.
    for (UINT id : {0u, 9u, 15u})
        CHECK(TableString(exe.handle, id).empty());
}

TEST_CASE("the progress dialog template is exactly the classic template of the design") {
    Module exe;
    REQUIRE(exe.handle != nullptr);
    std::vector<BYTE> data =
        Resource(exe.handle, RT_DIALOG, MAKEINTRESOURCEA(IDD_PROGRESS), ukEnglish);
    REQUIRE(data.size() > sizeof(DLGTEMPLATE));
    Reader read{data.data()};
    DWORD style = read.Dword();
    CHECK(style == (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    CHECK(read.Dword() == 0); // extended style; a DIALOGEX would start with 1, 0xFFFF
    CHECK(read.Word() == 8);
    CHECK(read.Word() == 0);
    CHECK(read.Word() == 0);
    CHECK(read.Word() == 237);
    CHECK(read.Word() == 61);
    CHECK(read.Word() == 0); // no menu
    CHECK(read.Word() == 0); // the system's dialog class
    CHECK(read.Text() == "Plendrax Uninstall Progress");
    CHECK(read.Word() == 9);
    CHECK(read.Text() == "Arial");

    struct Control {
        WORD id;
        const char* text;
        short x, y, width;
        DWORD style;
    };
    const DWORD shown = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
    const DWORD greyed = shown | WS_DISABLED;
    const DWORD hidden = WS_CHILD | WS_GROUP | SS_LEFT;
    const Control expected[] = {
        {1000, "Converting all Plendrax tasks to standard tasks...", 7, 7, 173, shown},
        {1004, "Done", 192, 7, 38, hidden},
        {1001, "Removing program files...", 7, 20, 118, greyed},
        {1005, "Done", 192, 20, 38, hidden},
        {1002, "Removing registry entries...", 7, 33, 128, greyed},
        {1006, "Done", 192, 33, 38, hidden},
        {1003, "Removing Start menu link...", 7, 46, 134, greyed},
        {1007, "Done", 192, 46, 38, hidden},
    };
    for (const Control& control : expected) {
        CAPTURE(control.id);
        read.Align(data.data());
        CHECK(read.Dword() == control.style);
        CHECK(read.Dword() == 0);
        CHECK(short(read.Word()) == control.x);
        CHECK(short(read.Word()) == control.y);
        CHECK(short(read.Word()) == control.width);
        CHECK(read.Word() == 8);
        CHECK(read.Word() == control.id);
        CHECK(read.Word() == 0xFFFF); // class given by ordinal...
        CHECK(read.Word() == 0x0082); // ...STATIC
        CHECK(read.Text() == control.text);
        CHECK(read.Word() == 0); // no creation data
    }
    CHECK(read.p == data.data() + data.size());
}

TEST_CASE("the two icon groups hold one 16-colour image each") {
    Module exe;
    REQUIRE(exe.handle != nullptr);
    const struct {
        WORD id;
        BYTE size;
    } groups[] = {{IDI_PLENDRAX, 32}, {IDI_PLENDRAX_SMALL, 16}};
    for (const auto& group : groups) {
        CAPTURE(group.id);
        HRSRC found = FindResourceA(exe.handle, MAKEINTRESOURCEA(group.id), RT_GROUP_ICON);
        REQUIRE(found != nullptr);
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(exe.handle, found)));
        Reader read{data};
        CHECK(read.Word() == 0);
        CHECK(read.Word() == 1); // icons
        CHECK(read.Word() == 1); // one image
        CHECK(data[6] == group.size);
        CHECK(data[7] == group.size);
        CHECK(data[8] == 16);                                  // colours
        CHECK(*reinterpret_cast<const WORD*>(data + 12) == 4); // bits per pixel
    }
}
