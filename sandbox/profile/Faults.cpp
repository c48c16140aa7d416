// The fault table (Profile.h): which call fails or misbehaves, the calls counted for it, and
// the stand-ins' busy windows.
#include "sandbox/profile/State.h"

#include "sandbox/common/Record.h"

namespace sandbox {

using state::model;

namespace {

// The entry of the fault table that names this call of member on object, or null.
const state::Fault* Named(const std::string& object, const std::string& member, int call) {
    for (const state::Fault& fault : model.faults)
        if (fault.object == object && fault.member == member &&
            (fault.count == 0 || fault.count == call))
            return &fault;
    return nullptr;
}

} // namespace

bool ShouldFail(const std::string& object, const std::string& member, long* result,
                FaultKind* kind) {
    PROFILE_LOCKED;
    if (BenchMode()) {
        // Counting every object's calls would grow with the profile; only named faults need it.
        bool named = false;
        for (const state::Fault& fault : model.faults)
            named = named || (fault.object == object && fault.member == member);
        if (!named)
            return false;
    }
    int call = state::JournalCall(state::Intern(object), state::Intern(member));
    const state::Fault* fault = Named(object, member, call);
    if (fault == nullptr)
        return false;
    if (result)
        *result = fault->result;
    if (kind)
        *kind = fault->kind;
    return true;
}

bool ShouldFailCall(const char* standin, const std::string& object, const std::string& member,
                    long* result, FaultKind* kind) {
    PROFILE_LOCKED;
    int call = state::CountStandinCall(standin);
    AppendRecord("calls", "%s %d \"%s\" %s", standin, call, object.c_str(), member.c_str());
    if (ShouldFail(object, member, result, kind))
        return true;
    std::string failStandin;
    int failCall = 0;
    long failResult = 0;
    if (state::FailCallSetting(&failStandin, &failCall, &failResult) && call == failCall &&
        failStandin == standin) {
        if (result)
            *result = failResult;
        if (kind)
            *kind = FaultKind::Fail;
        return true;
    }
    return false;
}

int CallCount(const char* standin) {
    PROFILE_LOCKED;
    return state::StandinCalls(standin);
}

void AddFault(const std::string& object, const std::string& member, int count, long result) {
    PROFILE_LOCKED;
    state::JournalAddFault(state::Intern(object), state::Intern(member), count, result);
}

bool IsBusy(const char* standin, bool* retryLater) {
    PROFILE_LOCKED;
    if (model.busy.empty())
        return false;
    DWORD now = GetTickCount();
    int next = state::StandinCalls(standin) + 1;
    for (state::Busy& busy : model.busy) {
        if (busy.standin != standin)
            continue;
        if (!busy.started && next >= busy.call) {
            busy.started = true;
            busy.until = now + busy.milliseconds;
            AppendRecord("profile", "%s busy from call %d for %lu ms", standin, next,
                         busy.milliseconds);
        }
        if (busy.started && LONG(busy.until - now) > 0) {
            if (retryLater)
                *retryLater = busy.retryLater;
            return true;
        }
    }
    return false;
}

} // namespace sandbox
