@echo off
rem Hook run by the bootstrapper before every stage:
rem   setup.cmd MODE STATE "INSTALLDIR\"
rem Its output is collected in the .nodelete file of the log folder.
rem Ends with 0 unless a step that should have worked failed: a handler, service or key
rem that is not there is the normal case on a clean machine, not a failure.
setlocal
set RESULT=0
set INSTALLTYPE=%~1
set STATE=%~2
set PFDIR=%~3
set PACKAGE_CUSTOMER=Norlo
set PACKAGE_SHORT_NAME=Tessel
set PACKAGE_NAME=Norlo Tessel
set CDP_SERVICE_APP_NAME=Norlo-Tessel-Svc
set NSE_OUTPUT_NAME=Norlo-Tessel-NSE.dll
rem System programs by full path: a program of the same name in the working directory
rem or on PATH never runs in their place.
set SYS=%SystemRoot%\System32
set AUTOPLAY_KEY=HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\AutoplayHandlers\EventHandlers\UnknownContentOnArrival

if /i "%INSTALLTYPE%"=="CHECK" goto :end
if /i "%INSTALLTYPE%"=="DOWNLOAD" goto :end
if /i "%INSTALLTYPE%"=="INSTALL" set INSTALLTYPE=INSTALL& goto :state
if /i "%INSTALLTYPE%"=="UNINSTALL" set INSTALLTYPE=UNINSTALL& goto :state
goto :usage

:state
set STATE_UC=
if /i "%STATE%"=="Initializing" set STATE_UC=INITIALIZING
if /i "%STATE%"=="SeekingSelfUpdate" set STATE_UC=SEEKINGSELFUPDATE
if /i "%STATE%"=="DownloadingBootstrapper" set STATE_UC=DOWNLOADINGBOOTSTRAPPER
if /i "%STATE%"=="ChoosingBootstrapper" set STATE_UC=CHOOSINGBOOTSTRAPPER
if /i "%STATE%"=="LoadingSequence" set STATE_UC=LOADINGSEQUENCE
if /i "%STATE%"=="ProcessingDownloads" set STATE_UC=PROCESSINGDOWNLOADS
if /i "%STATE%"=="PerformingUACCheck" set STATE_UC=PERFORMINGUACCHECK
if /i "%STATE%"=="PerformingInstalls" set STATE_UC=PERFORMINGINSTALLS
if /i "%STATE%"=="PerformingUninstalls" set STATE_UC=PERFORMINGUNINSTALLS
if /i "%STATE%"=="PurgingFiles" set STATE_UC=PURGINGFILES
if /i "%STATE%"=="FinishingInstall" set STATE_UC=FINISHINGINSTALL
if /i "%STATE%"=="FinishingUninstall" set STATE_UC=FINISHINGUNINSTALL
if /i "%STATE%"=="Failed" set STATE_UC=FAILED
if /i "%STATE%"=="PerformingSoftwareStops" set STATE_UC=PERFORMINGSOFTWARESTOPS
if "%STATE_UC%"=="" goto :usage
echo %PACKAGE_CUSTOMER% %PACKAGE_NAME% %INSTALLTYPE% %STATE_UC%
if "%INSTALLTYPE%_%STATE_UC%"=="INSTALL_FINISHINGINSTALL" goto :finish_install
if "%INSTALLTYPE%_%STATE_UC%"=="UNINSTALL_PERFORMINGUNINSTALLS" goto :perform_uninstalls
if "%INSTALLTYPE%_%STATE_UC%"=="UNINSTALL_PURGINGFILES" goto :purge_files
goto :end

:finish_install
if not exist "%PFDIR%%NSE_OUTPUT_NAME%" goto :finish_autoplay
"%SYS%\regsvr32.exe" /s "%PFDIR%%NSE_OUTPUT_NAME%"
if errorlevel 1 set RESULT=%ERRORLEVEL%
:finish_autoplay
call :disable_autoplay MSSdConfigBackup
call :disable_autoplay MSSdRunBackup
goto :end

:disable_autoplay
"%SYS%\reg.exe" QUERY "%AUTOPLAY_KEY%" /v %1 >nul 2>&1
if errorlevel 1 goto :eof
"%SYS%\reg.exe" ADD "%AUTOPLAY_KEY%" /v DISABLE_%1 /t REG_SZ /d "" /f
if errorlevel 1 set RESULT=%ERRORLEVEL%
"%SYS%\reg.exe" DELETE "%AUTOPLAY_KEY%" /v %1 /f
if errorlevel 1 set RESULT=%ERRORLEVEL%
goto :eof

:perform_uninstalls
if exist "%PFDIR%tarnview.exe" "%PFDIR%tarnview.exe" --quit
if not exist "%PFDIR%%NSE_OUTPUT_NAME%" goto :stop_service
"%SYS%\regsvr32.exe" /s /u "%PFDIR%%NSE_OUTPUT_NAME%"
if errorlevel 1 set RESULT=%ERRORLEVEL%
:stop_service
rem A service that is absent or already stopped is what the uninstall wants.
"%SYS%\sc.exe" STOP %CDP_SERVICE_APP_NAME%
goto :end

:purge_files
"%SYS%\reg.exe" DELETE "HKEY_CURRENT_USER\%PACKAGE_NAME%" /f
"%SYS%\reg.exe" DELETE "HKEY_CURRENT_USER\Software\%PACKAGE_CUSTOMER%\%PACKAGE_NAME%" /f
"%SYS%\reg.exe" DELETE "HKEY_LOCAL_MACHINE\SOFTWARE\%PACKAGE_CUSTOMER%\%PACKAGE_NAME%" /f
"%SYS%\reg.exe" DELETE "HKEY_LOCAL_MACHINE\SOFTWARE\%PACKAGE_CUSTOMER%\%PACKAGE_SHORT_NAME%" /f
"%SYS%\reg.exe" DELETE "HKEY_LOCAL_MACHINE\SOFTWARE\%PACKAGE_NAME%" /f
"%SYS%\reg.exe" DELETE "HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\%PACKAGE_CUSTOMER%\%PACKAGE_NAME%" /f
"%SYS%\reg.exe" DELETE "HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\%PACKAGE_CUSTOMER%\%PACKAGE_SHORT_NAME%" /f
goto :end

:usage
echo Usage: bootstrapper.cmd [INSTALL/UNINSTALL/CHECK/DOWNLOAD] [STEPNAME]
echo   STEPNAME is one of:
echo     Initializing
echo     SeekingSelfUpdate
echo     DownloadingBootstrapper
echo     ChoosingBootstrapper
echo     LoadingSequence
echo     ProcessingDownloads
echo     PerformingUACCheck
echo     PerformingInstalls
echo     PerformingUninstalls
echo     PurgingFiles
echo     FinishingInstall
echo     FinishingUninstall
echo     Failed
echo     PerformingSoftwareStops

:end
endlocal & exit /b %RESULT%
