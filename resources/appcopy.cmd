@echo off
rem Finishes an appliance medium: appcopy.cmd "TARGET\" "DATADIR\" "INSTALLDIR\"
set TARGET_DIR=%~1
echo Assembling appliance binaries at %TARGET_DIR%
"%SystemRoot%\System32\attrib.exe" +h +s "%TARGET_DIR%norlo"
if errorlevel 1 exit /b %errorlevel%
echo Target preparation SUCCEEDED.
exit /b %errorlevel%
