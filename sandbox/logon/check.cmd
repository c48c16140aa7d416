@echo off
rem Components and the user's Run keys for sandbox/logon/check, then two logons.
set M=HKLM\SOFTWARE\Microsoft\Active Setup\Installed Components
set U=HKCU\Software\Microsoft\Active Setup\Installed Components
set W=HKCU\Software\Microsoft\Windows\CurrentVersion
reg add "%M%\B.Second" /v StubPath /d "C:\windows\system32\cmd.exe /c exit 3" /f /reg:64 >nul
reg add "%M%\B.Second" /v Version /d "1,2" /f /reg:64 >nul
reg add "%U%\B.Second" /v Version /d "1,1,9,9" /f >nul
reg add "%M%\a.First" /v StubPath /t REG_EXPAND_SZ /d "%%ComSpec%% /c exit 0" /f /reg:64 >nul
reg add "%M%\C.Off" /v StubPath /d "cmd.exe /c exit 4" /f /reg:64 >nul
reg add "%M%\C.Off" /v IsInstalled /t REG_DWORD /d 0 /f /reg:64 >nul
reg add "%M%\D.Done" /v StubPath /d "cmd.exe /c exit 5" /f /reg:64 >nul
reg add "%M%\D.Done" /v Version /d "2,0,0,1" /f /reg:64 >nul
reg add "%U%\D.Done" /v Version /d "2,0,0,1" /f >nul
reg add "%M%\E.NoStub" /v Version /d "9" /f /reg:64 >nul
reg add "%W%\RunOnce" /v Once /d "cmd.exe /c exit 6" /f >nul
reg add "%W%\Run" /v Every /d "cmd.exe /c exit 0" /f >nul
echo first logon
C:\sandbox\logon.exe
echo logon exit %ERRORLEVEL%
echo second logon
C:\sandbox\logon.exe
echo logon exit %ERRORLEVEL%
reg query "%U%\B.Second" /v Version
reg query "%W%\RunOnce"
