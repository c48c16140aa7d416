#include "app/RunContext.h"

#include <sddl.h>

#include <memory>
#include <new>

namespace {

// The token's user, in a buffer the caller owns; null when it cannot be read.
std::unique_ptr<BYTE[]> ReadTokenUser(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
    if (size == 0)
        return nullptr;
    std::unique_ptr<BYTE[]> user(new (std::nothrow) BYTE[size]);
    if (!user || !GetTokenInformation(token, ::TokenUser, user.get(), size, &size))
        return nullptr;
    return user;
}

void DescribeUser(PSID sid, RunContext& context) {
    context.localSystem = IsWellKnownSid(sid, WinLocalSystemSid) != FALSE;
    char* text = nullptr;
    if (ConvertSidToStringSidA(sid, &text)) {
        lstrcpynA(context.userSid, text, sizeof context.userSid);
        LocalFree(text);
    }
}

} // namespace

RunContext CurrentRunContext() {
    RunContext context;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &context.sessionId))
        context.sessionId = 0; // unknown: taken as the services' session, the careful answer
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return context;
    TOKEN_ELEVATION elevation;
    DWORD size = sizeof elevation;
    // Before elevation existed every process had its user's full token: not asked, not elevated.
    context.elevated = GetTokenInformation(token, TokenElevation, &elevation, size, &size) &&
                       elevation.TokenIsElevated != 0;
    if (std::unique_ptr<BYTE[]> user = ReadTokenUser(token))
        DescribeUser(reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid, context);
    CloseHandle(token);
    context.elevated = context.elevated || context.localSystem;
    return context;
}

void LookUpAccountName(RunContext& context) {
    PSID sid = nullptr;
    if (context.userSid[0] == '\0' || !ConvertStringSidToSidA(context.userSid, &sid))
        return;
    char name[128], domain[128];
    DWORD nameSize = sizeof name, domainSize = sizeof domain;
    SID_NAME_USE use;
    if (LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
        wsprintfA(context.account, "%s\\%s", domain, name);
    LocalFree(sid);
}

bool IsServiceContext(const RunContext& context) {
    return context.localSystem || context.sessionId == 0;
}

RunParts PartsToRun(RunScope scope, const RunContext& context) {
    RunParts parts;
    parts.machine = scope != RunScope::User;
    parts.user = scope != RunScope::Machine && !IsServiceContext(context);
    return parts;
}

int ExitCodeWithoutParts(RunParts parts) {
    return parts.machine || parts.user ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}
