#pragma once
// The registry view the removal works in, for the build at hand.
//
// The shipped uninstaller is a 32-bit program. On 64-bit Windows it sees
// HKEY_LOCAL_MACHINE\Software through the 32-bit view, where Plendrax's 32-bit installer wrote
// the installed-programs entry, and its calls carry no view flag. The x86_64 build only ever
// stands for it, in the tests on hosts that cannot run 32-bit code, so it must touch the very
// same keys: it opens HKEY_LOCAL_MACHINE's in the 32-bit view and deletes them there.
// HKEY_CURRENT_USER\Software, the files and the shell folders are the same to both builds.
// (Extended MAPI differs by nature: a process loads only the MAPI32.DLL of its own bitness.)
#include <windows.h>

#ifdef _WIN64
inline REGSAM ViewOf(HKEY root) {
    return root == HKEY_LOCAL_MACHINE ? KEY_WOW64_32KEY : 0;
}
inline LONG DeleteRegistryKey(HKEY root, const char* subKey) {
    return RegDeleteKeyExA(root, subKey, ViewOf(root), 0);
}
#else
inline REGSAM ViewOf(HKEY) {
    return 0;
}
inline LONG DeleteRegistryKey(HKEY root, const char* subKey) {
    return RegDeleteKeyA(root, subKey);
}
#endif
