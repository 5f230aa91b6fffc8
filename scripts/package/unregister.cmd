@echo off
rem Removes the registration of the QarnComConnector DLLs that lie next to this file (COM classes
rem and type libraries), the data types last: the connector's type library refers to theirs.
rem Run it from a command prompt started "as administrator". Exit code 0 when both succeeded;
rem a failure with one DLL does not keep the other one registered.
setlocal
rem The bitness of the DLLs in this folder (x64 or x86); set when the package is made.
set ARCH=@ARCH@
set "HERE=%~dp0"
set FAILED=0

rem Removing the classes from HKEY_LOCAL_MACHINE needs administrator rights; "net session" only
rem succeeds in an elevated prompt.
net session >nul 2>&1
if errorlevel 1 goto not_admin

call :find_regsvr32
if errorlevel 1 exit /b 1
call :unregister QarnComConnector.dll
if errorlevel 1 set FAILED=1
call :unregister QarnComDatatypes.dll
if errorlevel 1 set FAILED=1
if "%FAILED%"=="1" exit /b 1
echo QarnComConnector (%ARCH%) is no longer registered
exit /b 0

rem Unregisters one DLL of this folder silently; regsvr32 sets a non-zero exit code on failure.
:unregister
if not exist "%HERE%%~1" goto missing
"%REGSVR32%" /u /s "%HERE%%~1"
if errorlevel 1 goto failed
echo unregistered %~1
exit /b 0
:missing
echo %~1 is missing in %HERE%
exit /b 1
:failed
echo regsvr32 could not unregister %HERE%%~1 (exit code %errorlevel%)
exit /b 1

rem The regsvr32 of the DLLs' bitness: on 64-bit Windows the 32-bit one is in SysWOW64, and a
rem 32-bit prompt reaches the 64-bit one through Sysnative.
:find_regsvr32
set "REGSVR32=%SystemRoot%\System32\regsvr32.exe"
if "%ARCH%"=="x86" goto find_x86
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "REGSVR32=%SystemRoot%\Sysnative\regsvr32.exe"
if "%PROCESSOR_ARCHITECTURE%%PROCESSOR_ARCHITEW6432%"=="x86" goto need_64
exit /b 0
:find_x86
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set "REGSVR32=%SystemRoot%\SysWOW64\regsvr32.exe"
exit /b 0
:need_64
echo These are 64-bit DLLs and this Windows is 32-bit: use the x86 folder.
exit /b 1

:not_admin
echo Unregistering needs administrator rights: start the command prompt "as administrator".
exit /b 1
