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
    {Kind::Items, 0xC8, Method, "Add", Argument::ItemType, true, Result::Object},
    {Kind::Item, 0x1A, Get, "MessageClass", Argument::None, false, Result::Text},
    {Kind::Item, 0x1A, Put, "MessageClass", Argument::Text, false, Result::None},
    {Kind::Item, 0xF048, Method, "Save", Argument::None, false, Result::None},
    {Kind::Item, 0xF095, Get, "FormDescription", Argument::None, false, Result::Object},
    {Kind::Item, 0xF023, Method, "Close", Argument::Number, false, Result::None},
    {Kind::Item, 0x37, Get, "Subject", Argument::None, false, Result::Text},
    {Kind::Form, 0x1A, Get, "MessageClass", Argument::None, false, Result::Text},
};

} // namespace

std::string DescribeArgument(const VARIANT& argument) {
    char text[64];
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
                      const Member** found, VARIANT* argument) {
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
    UINT expected = member->argument == Argument::None ? 0 : 1;
    UINT given = parameters->cArgs;
    if (given > expected || (given < expected && !member->optional))
        return DISP_E_BADPARAMCOUNT;
    if (given == 0)
        return S_OK;
    if (parameters->rgvarg == nullptr)
        return E_INVALIDARG;
    const VARIANT& passed = parameters->rgvarg[0];
    if (member->optional && passed.vt == VT_ERROR && passed.scode == DISP_E_PARAMNOTFOUND)
        return S_OK;
    // An index or an item type is a name or class when it is text, else a number; the others
    // are coerced to the declared type, as type-library dispatch does.
    VARTYPE wanted = member->argument == Argument::Text ? VT_BSTR : VT_I4;
    if ((member->argument == Argument::Index || member->argument == Argument::ItemType) &&
        passed.vt == VT_BSTR)
        wanted = VT_BSTR;
    HRESULT coerced = VariantChangeType(argument, const_cast<VARIANT*>(&passed), 0, wanted);
    if (FAILED(coerced)) {
        if (argumentError != nullptr)
            *argumentError = 0;
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

} // namespace standin
