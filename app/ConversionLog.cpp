#include "app/ConversionLog.h"

#include "app/RemovalLog.h"
#include "mapi/MapiSession.h"
#include "outlook/Automation.h"
#include "outlook/ConversionRun.h"

namespace {

// A call that took this long was held by something in Outlook, not by its work.
const DWORD longCallMs = 2000;

// Which way the default forms went and, without Extended MAPI, why it did not serve.
void LogDefaultFormsWay(const char* way) {
    const ExtendedMapiState& mapi = ExtendedMapi();
    char why[700];
    char code[600];
    FormatWindowsError(DWORD(mapi.code), mapi.availability != MapiAvailability::NoLibrary, code,
                       sizeof code);
    switch (mapi.availability) {
    case MapiAvailability::OtherBitness:
        wsprintfA(why, "Outlook is %s, this process is %s (HKEY_LOCAL_MACHINE\\%s, value %s, %s)",
                  BitnessText(mapi.outlook.bitness), BitnessText(ProcessBitness()),
                  mapi.outlook.key, mapi.outlook.value,
                  mapi.outlook.view64 ? "64-bit view" : "32-bit view");
        break;
    case MapiAvailability::NotInstalled:
        lstrcpyA(why, "it is not installed (the MAPIX value is not \"1\")");
        break;
    case MapiAvailability::NoLibrary:
        wsprintfA(why, "MAPI32.DLL could not be loaded, %.600s", code);
        break;
    case MapiAvailability::NoEntryPoint:
        lstrcpyA(why, "MAPI32.DLL lacks an entry point");
        break;
    case MapiAvailability::InitializeFailed:
        wsprintfA(why, "MAPIInitialize failed, %.600s", code);
        break;
    case MapiAvailability::LogonFailed:
        wsprintfA(why, "MAPILogonEx failed, %.600s", code);
        break;
    case MapiAvailability::NoMemory:
        lstrcpyA(why, "no memory for its session");
        break;
    default:
        lstrcpyA(why, "no task folder asked for it");
        break;
    }
    LogLine("Default forms: %s; Extended MAPI not used: %s", way, why);
}

// Where the user's mail profiles were looked for, or found, and what they say.
void LogMailProfiles(const MailProfiles& profiles) {
    switch (profiles.state) {
    case MailProfileState::None:
        LogLine("Outlook is not running, and this user has no mail profile (none in "
                "HKEY_CURRENT_USER\\%s, HKEY_CURRENT_USER\\%s or HKEY_CURRENT_USER\\%s): "
                "Outlook was not started, and there is no Outlook data of this user on this "
                "machine to convert",
                MailProfilePlaces[0], MailProfilePlaces[1], MailProfilePlaces[2]);
        break;
    case MailProfileState::Prompt:
        LogLine("Outlook is not running, and it is set to prompt for a profile at start "
                "(HKEY_CURRENT_USER\\%s, value PickLogonProfile): Outlook was not started, since "
                "its Choose Profile box would wait for a person. Run the removal again while "
                "Outlook is open, or set Outlook to always use one profile (Control Panel, Mail, "
                "Show Profiles)",
                PickLogonProfileKey);
        break;
    case MailProfileState::NoDefault:
        LogLine("Outlook is not running, and none of the %lu mail profiles in "
                "HKEY_CURRENT_USER\\%s is the default: Outlook was not started, since it would "
                "ask for one and wait for a person. Run the removal again while Outlook is open, "
                "or set a default profile (Control Panel, Mail, Show Profiles)",
                static_cast<unsigned long>(profiles.count), profiles.place);
        break;
    case MailProfileState::Default:
        LogLine("Outlook is not running; it is started with the default mail profile \"%.200s\" "
                "(HKEY_CURRENT_USER\\%s)",
                profiles.defaultName.c_str(), profiles.place);
        break;
    default:
        break;
    }
}

} // namespace

void LogConversion(const ConversionRequest& request, const ConversionFigures& figures) {
    if (!RemovalLogOpen())
        return;
    if (figures.outlookWasRunning)
        LogLine("Outlook is running: used as it is, with its profile");
    LogMailProfiles(figures.profiles);
    if (figures.comResult != S_OK)
        LogFailure("Initialising COM", figures.comResult, true);
    else if (figures.outlookReached)
        LogLine("Outlook reached");
    else if (!OutlookNotStarted(figures)) // which the profiles' line has told
        LogFailure("Reaching Outlook", figures.outlookResult, true);
    if (OutlookNotInstalled(figures))
        LogLine("Outlook is not installed (its automation class is not registered): there is "
                "nothing to convert on this machine");
    if (figures.endingError != S_OK)
        LogFailure("Converting the Outlook folders", figures.endingError, true);
    LogLine("Outlook folders walked: %ld; task folders visited: %ld; items converted: %ld; "
            "items failed: %ld; default forms reset: %ld; Extended MAPI used: %s",
            figures.foldersWalked, figures.taskFolders, figures.itemsConverted, figures.itemsFailed,
            figures.formsReset, figures.extendedMapiUsed ? "yes" : "no");
    if (figures.outlookReached) {
        if (figures.extendedMapiUsed)
            LogLine("Default forms: reset through Extended MAPI");
        else
            LogDefaultFormsWay(request.formResetThroughOutlook
                                   ? "reset through Outlook's object model (PropertyAccessor)"
                                   : "left for the user to reset by hand");
    }
    for (const FailedItem& item : figures.failedItems)
        LogLine("Item left unconverted: folder \"%s\", subject \"%s\"", item.folder.c_str(),
                item.subject.c_str());
    if (figures.itemsFailed > long(figures.failedItems.size()))
        LogLine("Items left unconverted and not named here: %ld",
                figures.itemsFailed - long(figures.failedItems.size()));
    for (const FolderNotReset& folder : figures.foldersNotReset)
        LogLine("Default form left for a person to reset: folder \"%s\": %s", folder.folder.c_str(),
                folder.why.c_str());
    if (figures.formsNotReset > long(figures.foldersNotReset.size()))
        LogLine("Default forms left and not named here: %ld",
                figures.formsNotReset - long(figures.foldersNotReset.size()));
    if (OutlookCallTimes.longestMs >= longCallMs)
        LogLine("Outlook kept one call waiting %lu ms (DISPID 0x%lX): a dialog in Outlook, such "
                "as its programmatic-access prompt, may have been waiting for its user",
                static_cast<unsigned long>(OutlookCallTimes.longestMs),
                static_cast<unsigned long>(OutlookCallTimes.longestMember));
}
