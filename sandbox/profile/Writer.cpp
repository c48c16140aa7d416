// What the profile writes: its state in the profile text format, and the stand-ins' records.
#include "sandbox/profile/State.h"

#include "sandbox/common/Record.h"

#include <cstdarg>
#include <cstdio>

namespace sandbox {

using state::model;
using state::Quoted;

namespace {

void WriteFolder(std::string& out, int handle, int depth) {
    const state::Folder& folder = model.folders[handle - 1];
    out += std::string(2 * depth, ' ') + "folder " + Quoted(folder.name) +
           " type=" + std::to_string(folder.type) +
           " id=" + HexText(folder.id.data(), folder.id.size());
    if (!folder.accessible)
        out += " access=no";
    if (folder.opensAsMessage)
        out += " opens=message";
    for (const auto& id : folder.outlookIds)
        out += (id.first ? " outlookstoreid=" : " outlookentryid=") + Quoted(id.second);
    auto msgClass = folder.props.find(TagDefPostMsgClass);
    if (msgClass != folder.props.end())
        out += " msgclass=" + Quoted(msgClass->second);
    auto displayName = folder.props.find(TagDefPostDisplayName);
    if (displayName != folder.props.end())
        out += " displayname=" + Quoted(displayName->second);
    out += "\r\n";
    for (int item : folder.items) {
        out += std::string(2 * depth + 2, ' ') + "item " + Quoted(ItemClass(item)) +
               " saved=" + std::to_string(ItemSaveCount(item));
        const std::string& subject = model.items[item - 1].subject;
        if (!subject.empty())
            out += " subject=" + Quoted(subject);
        out += "\r\n";
    }
    for (int child : folder.children)
        WriteFolder(out, child, depth + 1);
}

void WriteFaults(std::string& out) {
    for (const state::Fault& fault : model.faults) {
        std::string count = fault.count == 0 ? std::string("*") : std::to_string(fault.count);
        std::string named = Quoted(fault.object) + " " + Quoted(fault.member) + " " + count;
        if (fault.kind == FaultKind::Fail) {
            char result[16];
            snprintf(result, sizeof result, "0x%08lX", (unsigned long)fault.result);
            out += "fail " + named + " " + result + "\r\n";
        } else if (fault.kind == FaultKind::Close) {
            out += "close " + named + "\r\n";
        } else {
            out += "answer " + named + " " + state::FaultKindName(fault.kind) + "\r\n";
        }
    }
    for (const state::Busy& busy : model.busy)
        out += "busy " + Quoted(busy.standin) + " " + std::to_string(busy.call) + " " +
               std::to_string(busy.milliseconds) + (busy.retryLater ? " retrylater" : "") + "\r\n";
}

// Processes that share the state may write it at the same moment.
class WriterLock {
  public:
    WriterLock() : mutex(CreateMutexA(nullptr, FALSE, "SandboxProfileWriter")) {
        if (mutex != nullptr)
            WaitForSingleObject(mutex, 10000);
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;
    ~WriterLock() {
        if (mutex != nullptr) {
            ReleaseMutex(mutex);
            CloseHandle(mutex);
        }
    }

  private:
    HANDLE mutex;
};

} // namespace

void FlushProfile() {
    PROFILE_LOCKED;
    std::string out = "# state after the run\r\n";
    for (const state::Store& store : model.stores) {
        out += "store " + Quoted(store.name) + " id=" + HexText(store.id.data(), store.id.size()) +
               "\r\n";
        for (int folder : store.folders)
            WriteFolder(out, folder, 1);
    }
    WriteFaults(out);
    CreateDirectoryA("C:\\sandbox", nullptr);
    CreateDirectoryA("C:\\sandbox\\log", nullptr);
    WriterLock writing;
    HANDLE file = CreateFileA("C:\\sandbox\\log\\profile.out", GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, out.data(), DWORD(out.size()), &written, nullptr);
    CloseHandle(file);
}

void Record(const char* log, const char* format, ...) {
    if (BenchMode())
        return;
    char line[2000];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    AppendRecord(log, "%s", line);
}

} // namespace sandbox

extern "C" void SandboxFlushProfile() {
    sandbox::FlushProfile();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) {
        sandbox::FlushProfile();
        AppendRecord("profile", "detach");
        // At process end the system takes the view with everything else.
        if (reserved == nullptr) {
            std::lock_guard<std::recursive_mutex> guard(sandbox::state::Lock());
            sandbox::state::Leave();
        }
    }
    return TRUE;
}
