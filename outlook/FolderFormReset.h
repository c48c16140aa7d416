#pragma once
// A task folder's default form reset through Outlook's own object model: the folder's
// PropertyAccessor reads and writes its MAPI properties inside Outlook, whatever Outlook's
// bitness. The unattended run takes this way where Extended MAPI cannot serve this process.
#include "outlook/Automation.h"

#include <string>

// Reads PR_DEF_POST_MSGCLASS and PR_DEF_POST_DISPLAYNAME with GetProperties. Only when both are
// texts equal byte for byte to expectedClass and expectedName does it write newClass and
// newName with SetProperties. True only when SetProperties answered an empty value: every
// property set, and stored at once (a folder has no Save). Otherwise false, with why saying
// what stood in the way; a failed call is caught and told there too.
bool ResetDefaultFormThroughOutlook(const DispatchRef& folder, const char* expectedClass,
                                    const char* expectedName, const char* newClass,
                                    const char* newName, std::string& why);
