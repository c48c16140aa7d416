#pragma once
// Outlook's automation server as the conversion drives it: by DISPID, without a type library.
#include <windows.h>

// {0006F03A-0000-0000-C000-000000000046}: Outlook.Application from Outlook 2000 on, and the
// class a running Outlook registers in the running object table.
const CLSID CLSID_OutlookApplication = {
    0x0006F03A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {0006F033-0000-0000-C000-000000000046}: the class of Outlook 97 and 98, which later Outlooks
// may or may not still register.
const CLSID CLSID_OutlookApplicationOld = {
    0x0006F033, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER
const DWORD OutlookClassContext = 7;

namespace OutlookDispId {
const DISPID GetNamespace = 0x110;
const DISPID Folders = 0x2103;
const DISPID Count = 0x50;
const DISPID Item = 0x51;
const DISPID DefaultItemType = 0x3106;
const DISPID Items = 0x3100;
const DISPID EntryID = 0xF01E;
const DISPID StoreID = 0x3108;
const DISPID Add = 0x5F; // Items.Add from Outlook 98 on
const DISPID MessageClass = 0x1A;
const DISPID Save = 0xF048;
const DISPID FormDescription = 0xF095;
const DISPID Close = 0xF023;
const DISPID Name = 0x3001;  // MAPIFolder.Name
const DISPID Subject = 0x37; // TaskItem.Subject
// Folder.PropertyAccessor and its members (Outlook 2007 and later).
const DISPID PropertyAccessor = 0xFAFD;
const DISPID GetProperty = 0xFAFB;
const DISPID SetProperty = 0xFAFC;
const DISPID GetProperties = 0xFAFE;
const DISPID SetProperties = 0xFAFF;
} // namespace OutlookDispId
