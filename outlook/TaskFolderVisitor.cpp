#include "outlook/TaskFolderVisitor.h"

#include "mapi/MapiSession.h"
#include "outlook/FolderFormReset.h"
#include "platform/Outlook.h"

namespace {

const char plendraxClass[] = "IPM.Task.Plendrax";
const char plendraxFormName[] = "Plendrax";
const char taskClass[] = "IPM.Task";
const char taskFormName[] = "Task";
const long taskItemType = 3;   // olTaskItem
const long discardChanges = 1; // olDiscard

// Whole-string, case-sensitive comparison; no class at all never matches.
bool HasPlendraxClass(const DispatchRef& object) {
    return StringPropertyEquals(object, OutlookDispId::MessageClass, plendraxClass);
}

DispatchRef GetItems(const DispatchRef& folder) {
    DispatchRef items = GetObjectProperty(folder, OutlookDispId::Items);
    if (items.IsNull())
        RaiseComError(E_POINTER);
    return items;
}

// A folder identifier to pass on to MAPI as narrow text; a missing one cannot name a folder,
// and one with an embedded zero would reach MAPI cut short.
std::string GetIdentifier(const DispatchRef& folder, DISPID member) {
    std::optional<std::string> identifier = GetStringProperty(folder, member);
    if (!identifier)
        RaiseComError(E_POINTER);
    if (identifier->find('\0') != std::string::npos)
        RaiseComError(E_INVALIDARG);
    return *identifier;
}

// A text property for the log, or what stands in for it when it cannot be read.
std::string TextForLog(const DispatchRef& object, DISPID member, const char* unknown) {
    try {
        if (!object.IsNull())
            if (std::optional<std::string> text = GetStringProperty(object, member))
                return *text;
    } catch (...) {
    }
    return unknown;
}

// The folder's name for a list the log names one by one (looked up once a folder), or null
// once the first ones have been named: the rest are counted only.
template <typename Named>
const std::string* FolderNameForLog(const std::vector<Named>& named, const DispatchRef& folder,
                                    std::string& folderName) {
    if (named.size() >= MaxFailedItemsNamed)
        return nullptr;
    if (folderName.empty())
        folderName = TextForLog(folder, OutlookDispId::Name, "(a folder whose name is unknown)");
    return &folderName;
}

// Names a skipped item for the log: which folder, which subject.
void NameFailedItem(ConversionFigures& figures, const DispatchRef& folder, const DispatchRef& item,
                    std::string& folderName) {
    try {
        std::vector<FailedItem>& named = figures.failedItems;
        if (const std::string* name = FolderNameForLog(named, folder, folderName))
            named.push_back({*name, TextForLog(item, OutlookDispId::Subject, "(subject unknown)")});
    } catch (...) {
        // No room to name it: it is still counted.
    }
}

// Names a folder whose Plendrax form is left, and why, as failed items are named.
void NameFolderNotReset(ConversionFigures& figures, const DispatchRef& folder,
                        const std::string& why, std::string& folderName) {
    ++figures.formsNotReset;
    try {
        std::vector<FolderNotReset>& named = figures.foldersNotReset;
        if (const std::string* name = FolderNameForLog(named, folder, folderName))
            named.push_back({*name, why});
    } catch (...) {
    }
}

// Through Extended MAPI where it serves this process; where it does not, through Outlook's
// object model when the run asks for that, else not at all (the run then leaves the forms to
// its user).
void ResetDefaultForm(const ConversionContext& run, const DispatchRef& folder,
                      std::string& folderName) {
    try {
        bool extendedMapi = GetMapiSession() != nullptr;
        if (!extendedMapi && !run.formResetThroughOutlook)
            return;
        HRESULT notExamined = S_OK;
        if (!DefaultFormProbe(folder.NewReference(), &notExamined)) {
            // Unattended, a folder whose form nobody could see is a folder a person must look
            // at; the interactive run takes it for the standard form.
            if (notExamined != S_OK && run.formResetThroughOutlook) {
                *run.manualSteps = true;
                char why[80];
                wsprintfA(why, "its default form could not be examined (error 0x%08lX)",
                          static_cast<unsigned long>(notExamined));
                NameFolderNotReset(*run.figures, folder, why, folderName);
            }
            return;
        }
        std::string why = "the reset through Extended MAPI failed";
        bool reset;
        if (extendedMapi) {
            std::string entryId = GetIdentifier(folder, OutlookDispId::EntryID);
            std::string storeId = GetIdentifier(folder, OutlookDispId::StoreID);
            reset = ResetFolderDefaultForm(storeId.c_str(), entryId.c_str(), plendraxClass,
                                           plendraxFormName, taskClass, taskFormName);
        } else {
            reset = ResetDefaultFormThroughOutlook(folder, plendraxClass, plendraxFormName,
                                                   taskClass, taskFormName, why);
        }
        if (reset) {
            ++run.figures->formsReset;
            return;
        }
        *run.manualSteps = true;
        NameFolderNotReset(*run.figures, folder, why, folderName);
    } catch (...) {
        *run.manualSteps = true;
        NameFolderNotReset(*run.figures, folder, "its default form could not be examined",
                           folderName);
    }
}

// newClass is converted at the first Plendrax item and kept for the folder's others.
void ConvertItem(ConversionFigures& figures, const DispatchRef& folder, const DispatchRef& items,
                 long index, Bstr& newClass, std::string& folderName) {
    DispatchRef item;
    try {
        Variant position;
        position.value.vt = VT_I4;
        position.value.lVal = index;
        {
            DispatchRef returned = CallObjectMethod(items, OutlookDispId::Item, &position.value, 1);
            item = QueryDispatch(returned);
        }
        position.Clear();
        if (item.IsNull())
            RaiseComError(E_POINTER);
        if (!HasPlendraxClass(item))
            return;
        if (newClass.IsNull())
            newClass.Assign(taskClass);
        PutStringProperty(item, OutlookDispId::MessageClass, newClass);
        CallMethod(item, OutlookDispId::Save, nullptr, 0);
        ++figures.itemsConverted;
    } catch (...) {
        // The item is skipped; the others are still converted.
        ++figures.itemsFailed;
        NameFailedItem(figures, folder, item, folderName);
    }
}

// Discards the temporary item; a null item raises E_POINTER.
void CloseUnsaved(const DispatchRef& item) {
    Variant option;
    option.value.vt = VT_I4;
    option.value.lVal = discardChanges;
    CallMethod(item, OutlookDispId::Close, &option.value, 1);
}

} // namespace

bool TaskFolderVisitor(DispatchRef folder, void* context) {
    const ConversionContext& run = *static_cast<const ConversionContext*>(context);
    ConversionFigures& figures = *run.figures;
    ++figures.foldersWalked;
    if (GetLongProperty(folder, OutlookDispId::DefaultItemType) != taskItemType)
        return true;
    ++figures.taskFolders;
    DispatchRef items = GetItems(folder);
    long count = GetLongProperty(items, OutlookDispId::Count);
    std::string folderName; // looked up when the log first needs it
    ResetDefaultForm(run, folder, folderName);
    Bstr newClass;
    for (long index = 1; index <= count; ++index)
        ConvertItem(figures, folder, items, index, newClass, folderName);
    return true;
}

bool DefaultFormProbe(DispatchRef folder, HRESULT* notExamined) {
    if (notExamined != nullptr)
        *notExamined = S_OK;
    bool isPlendrax = false;
    bool created = false;
    DispatchRef item;
    try {
        {
            DispatchRef items = GetItems(folder);
            // The optional item type is omitted: the new item gets the folder's default form.
            Variant itemType;
            itemType.value.vt = VT_ERROR;
            itemType.value.scode = DISP_E_PARAMNOTFOUND;
            DispatchRef returned = CallObjectMethod(items, OutlookDispId::Add, &itemType.value, 1);
            item = QueryDispatch(returned);
        }
        created = true;
        if (item.IsNull())
            RaiseComError(E_POINTER);
        DispatchRef form = GetObjectProperty(item, OutlookDispId::FormDescription);
        if (form.IsNull())
            RaiseComError(E_POINTER);
        isPlendrax = HasPlendraxClass(form);
    } catch (const _com_error& error) {
        if (notExamined != nullptr)
            *notExamined = FAILED(error.Error()) ? error.Error() : E_FAIL;
    } catch (...) {
        // Whatever else went wrong, the temporary item must not outlive the probe.
        if (created) {
            try {
                CloseUnsaved(item);
            } catch (...) {
            }
        }
        throw;
    }
    if (created)
        CloseUnsaved(item);
    return isPlendrax;
}
