#pragma once
// The Outlook stand-in's automation objects and their class factory, served in-process by
// OutlookStandin.dll and out of process by the local server OutlookStandin.exe (ObjectModel.h
// says what they do).
#include <windows.h>

#include <ole2.h>

namespace standin {

// {0006F03A-0000-0000-C000-000000000046}, Outlook.Application from Outlook 2000 on, and the
// class a running Outlook is found under in the running object table.
const CLSID CLSID_Application = {
    0x0006F03A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {0006F033-0000-0000-C000-000000000046}, Outlook 97's and 98's, which later Outlooks may still
// register beside it for the same server.
const CLSID CLSID_ApplicationOld = {
    0x0006F033, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The record the objects write: C:\sandbox\log\outlook.log.
extern const char Log[];

// How the objects reach their client. In-process they see every call the client makes; out of
// process COM's proxies answer the client's QueryInterface themselves, a closing server ends
// its process, and a busy one rejects calls through its message filter.
enum class Serving { InProcess, LocalServer };
void SetServing(Serving serving);

// The application class's factory (static: it lives as long as the module).
IClassFactory* Factory();
// The application object a running Outlook registers in the running object table. The table's
// reference does not keep the server running: it is not counted among the live objects.
IUnknown* RunningApplication();

// Objects still referenced, locks on the server, and application objects made by the factory.
long LiveObjects();
long Creations();
long ServerLocks();
// Called whenever the last object and the last lock have gone (the local server then ends).
void OnIdle(void (*idle)());

// Whether an incoming IDispatch call is to be rejected now (a busy window that rejects rather
// than answering RPC_E_SERVERCALL_RETRYLATER).
bool RejectsIncomingCall();

} // namespace standin
