#pragma once

// Restricts where the process looks for DLLs loaded by name to the system directory, so that
// a DLL planted beside the uninstaller or in its current directory is never loaded in place of
// "MAPI32.DLL" or "SrClient.DLL". Call before anything else loads a DLL.
void RestrictDllSearchToSystemDirectory();
