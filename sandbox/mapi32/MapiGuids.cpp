// The interface ids the stand-in's objects answer QueryInterface for, defined once here.
#include <windows.h>

#include <initguid.h>

#define USES_IID_IMAPISession
#define USES_IID_IMAPIProp
#define USES_IID_IMsgStore
#define USES_IID_IMessage
#define USES_IID_IMAPIContainer
#define USES_IID_IMAPIFolder
#include <mapiguid.h>
