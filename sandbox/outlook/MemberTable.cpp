// The Outlook stand-in's members by object kind and DISPID, and the checking of a call's flags
// and arguments against them, as type-library dispatch checks them.
#include "sandbox/outlook/ObjectModel.h"

#include <cstdio>

namespace standin {

namespace {

const Member members[] = {
    {Kind::Application, 0x110, Method, "GetNamespace", Argument::Text, false, Result::Object},
    {Kind::Namespace, 0x2103, Get, "Folders", Argument::None, false, Result::Object},
    {Kind::Stores, 0x50, Get, "Count", Argument::None, false, Result::Number},
    {Kind::Stores, 0x51, Method, "Item", Argument::Index, false, Result::Object},
    {Kind::Folders, 0x50, Get, "Count", Argument::None, false, Result::Number},
    {Kind::Folders, 0x51, Method, "Item", Argument::Index, false, Result::Object},
    {Kind::Folder, 0x2103, Get, "Folders", Argument::None, false, Result::Object},
    {Kind::Folder, 0x3106, Get, "DefaultItemType", Argument::None, false, Result::Number},
    {Kind::Folder, 0x3100, Get, "Items", Argument::None, false, Result::Object},
    {Kind::Folder, 0xF01E, Get, "EntryID", Argument::None, false, Result::Text},
    {Kind::Folder, 0x3108, Get, "StoreID", Argument::None, false, Result::Text},
    {Kind::Folder, 0x3001, Get, "Name", Argument::None, false, Result::Text},
    {Kind::Items, 0x50, Get, "Count", Argument::None, false, Result::Number},
    {Kind::Items, 0x51, Method, "Item", Argument::Index, false, Result::Object},
    {Kind::Items, 0x5F, Method, "Add", Argument::ItemType, true, Result::Object},
    {Kind::Item, 0x1A, Get, "MessageClass", Argument::None, false, Result::Text},
    {Kind::Item, 0x1A, Put, "MessageClass", Argument::Text, false, Result::None},
    {Kind::Item, 0xF048, Method, "Save", Argument::None, false, Result::None},
    {Kind::Item, 0xF095, Get, "FormDescription", Argument::None, false, Result::Object},
    {Kind::Item, 0xF023, Method, "Close", Argument::Number, false, Result::None},
    {Kind::Item, 0x37, Get, "Subject", Argument::None, false, Result::Text},
    {Kind::Form, 0x1A, Get, "MessageClass", Argument::None, false, Result::Text},
    {Kind::Folder, 0xFAFD, Get, "PropertyAccessor", Argument::None, false, Result::Object},
    {Kind::PropertyAccessor, 0xFAFB, Method, "GetProperty", Argument::Text, false, Result::Value},
    {Kind::PropertyAccessor, 0xFAFC, Method, "SetProperty", Argument::Text, false, Result::None,
     Argument::Value},
    {Kind::PropertyAccessor, 0xFAFE, Method, "GetProperties", Argument::Value, false,
     Result::Value},
    {Kind::PropertyAccessor, 0xFAFF, Method, "SetProperties", Argument::Value, false, Result::Value,
     Argument::Value},
};

// One argument as the member declares it. An index or an item type is a name or class when it
// is text, else a number; a value is taken as it is, a reference as what it points to; the
// others are coerced to the declared type, as type-library dispatch does.
HRESULT Take(Argument declared, const VARIANT& passed, VARIANT* taken) {
    VARIANT* source = const_cast<VARIANT*>(&passed);
    if (declared == Argument::Value)
        return SUCCEEDED(VariantCopyInd(taken, source)) ? S_OK : DISP_E_TYPEMISMATCH;
    VARTYPE wanted = declared == Argument::Text ? VT_BSTR : VT_I4;
    if ((declared == Argument::Index || declared == Argument::ItemType) && passed.vt == VT_BSTR)
        wanted = VT_BSTR;
    return SUCCEEDED(VariantChangeType(taken, source, 0, wanted)) ? S_OK : DISP_E_TYPEMISMATCH;
}

} // namespace

std::string DescribeArgument(const VARIANT& argument) {
    char text[64];
    if ((argument.vt & VT_BYREF) != 0) {
        VARIANT target;
        VariantInit(&target);
        if (FAILED(VariantCopyInd(&target, const_cast<VARIANT*>(&argument))))
            return "BYREF:?";
        std::string described = "BYREF:" + DescribeArgument(target);
        VariantClear(&target);
        return described;
    }
    if ((argument.vt & VT_ARRAY) != 0) {
        VariantList elements;
        if (!elements.Read(argument))
            return "ARRAY:?";
        std::string described;
        for (size_t n = 0; n < elements.Count(); ++n)
            described += (n ? ";" : "") + DescribeArgument(elements[n]);
        return "ARRAY:[" + described + "]";
    }
    switch (argument.vt) {
    case VT_I4:
        snprintf(text, sizeof text, "I4:%ld", argument.lVal);
        return text;
    case VT_BSTR:
        return argument.bstrVal ? "BSTR:" + Narrow(argument.bstrVal) : "BSTR:<null>";
    case VT_ERROR:
        snprintf(text, sizeof text, "ERROR:0x%08lX", static_cast<unsigned long>(argument.scode));
        return text;
    default:
        snprintf(text, sizeof text, "VT%u", unsigned(argument.vt));
        return text;
    }
}

HRESULT Object::Check(DISPID id, WORD flags, DISPPARAMS* parameters, UINT* argumentError,
                      const Member** found, VARIANT* arguments) {
    const Member* member = nullptr;
    for (const Member& candidate : members) {
        if (candidate.kind != kind || candidate.id != id)
            continue;
        // A get or a method may be asked for with both flags set, as callers that cannot tell
        // them apart do; a get asked for as a method alone is not found, nor the reverse.
        bool matches = candidate.access == Put
                           ? flags == DISPATCH_PROPERTYPUT
                           : (flags & candidate.access) != 0 && (flags & ~(Get | Method)) == 0;
        if (matches)
            member = &candidate;
    }
    if (member == nullptr)
        return DISP_E_MEMBERNOTFOUND;
    *found = member;
    if (parameters == nullptr)
        return E_INVALIDARG;
    UINT named = member->access == Put ? 1 : 0;
    if (parameters->cNamedArgs != named)
        return named ? DISP_E_PARAMNOTOPTIONAL : DISP_E_NONAMEDARGS;
    if (named && (parameters->rgdispidNamedArgs == nullptr ||
                  parameters->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
        return DISP_E_PARAMNOTFOUND;
    const Argument declared[] = {member->argument, member->second};
    UINT expected = UINT(declared[0] != Argument::None) + UINT(declared[1] != Argument::None);
    UINT given = parameters->cArgs;
    if (given > expected || (given < expected && !member->optional))
        return DISP_E_BADPARAMCOUNT;
    if (given == 0)
        return S_OK;
    if (parameters->rgvarg == nullptr)
        return E_INVALIDARG;
    // rgvarg holds the arguments last first.
    for (UINT n = 0; n < given; ++n) {
        UINT at = given - 1 - n;
        const VARIANT& passed = parameters->rgvarg[at];
        if (member->optional && n + 1 == expected && passed.vt == VT_ERROR &&
            passed.scode == DISP_E_PARAMNOTFOUND)
            break;
        if (HRESULT taken = Take(declared[n], passed, &arguments[n]); FAILED(taken)) {
            if (argumentError != nullptr)
                *argumentError = at;
            return taken;
        }
    }
    return S_OK;
}

} // namespace standin
