#pragma once
// Extended MAPI declarations used by mapi/ that mingw-w64's headers lack.
#include <windows.h>
#include <mapix.h>

#ifndef PR_DEF_POST_MSGCLASS
#define PR_DEF_POST_MSGCLASS PROP_TAG(PT_STRING8, 0x36E5)
#endif
#ifndef PR_DEF_POST_DISPLAYNAME
#define PR_DEF_POST_DISPLAYNAME PROP_TAG(PT_STRING8, 0x36E6)
#endif
