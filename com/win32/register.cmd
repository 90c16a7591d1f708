@echo off
rem Registers Tavlor_QuorvelUnit for this machine, as administrator: the
rem 64-bit DLL for 64-bit hosts and the 32-bit one for 32-bit hosts.
rem   register.cmd       register
rem   register.cmd /u    unregister
setlocal
set "here=%~dp0"
set "flag="
if /i "%~1"=="/u" set "flag=/u"
set "status=0"
set "bits=32"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "bits=64"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "bits=64"
if "%bits%"=="32" (
  call :one "%SystemRoot%\System32\regsvr32.exe" x86
  exit /b %status%
)
rem A 32-bit command prompt reaches the 64-bit System32 as Sysnative.
set "sys64=%SystemRoot%\System32"
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "sys64=%SystemRoot%\Sysnative"
call :one "%sys64%\regsvr32.exe" x64
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" (
  call :one "%SystemRoot%\SysWOW64\regsvr32.exe" x86
) else (
  echo x86: left out: this Windows runs no 32-bit programs
)
exit /b %status%

:one
if not exist "%here%%2\Tavlor_QuorvelUnit.dll" goto :eof
"%~1" /s %flag% "%here%%2\Tavlor_QuorvelUnit.dll"
if errorlevel 1 (
  echo %2: regsvr32 %flag% failed ^(run as administrator^)
  set "status=1"
) else (
  echo %2: done
)
goto :eof
