// Custom actions of the deployment wrapper (SetupWrapper.wxs). They run inside the Windows
// Installer's script host, where Session is the running installation.

// The installer's answers for a script custom action.
var kSucceeded = 1;
var kFailed = 3;

// Deferred, without impersonation: runs the carried Setup.exe as CustomActionData says
// ("<program>|<switches>") and waits for it. Exit code 0 and 1 succeed (1: a restart is
// needed, or the software was up to date); anything else fails the installation, which the
// installer then rolls back. A 1 is left beside the program for AskForRestart, since a
// deferred action cannot set a property.
function RunCarriedSetup() {
    var data = Session.Property("CustomActionData");
    var cut = data.indexOf("|");
    var program = data.substring(0, cut);
    var shell = new ActiveXObject("WScript.Shell");
    var code = shell.Run("\"" + program + "\" " + data.substring(cut + 1), 0, true);
    if (code == 1) {
        var files = new ActiveXObject("Scripting.FileSystemObject");
        var record = files.CreateTextFile(program + ".exitcode", true);
        record.Write(String(code));
        record.Close();
    }
    return code == 0 || code == 1 ? kSucceeded : kFailed;
}

// Immediate, after the installation: exit code 1 of the carried program asks the installer
// for a restart at the end, which it reports as 3010 under /norestart.
function AskForRestart() {
    var files = new ActiveXObject("Scripting.FileSystemObject");
    var record = Session.Property("INSTALLDIR") + "Setup.exe.exitcode";
    if (!files.FileExists(record)) return kSucceeded;
    var stream = files.OpenTextFile(record, 1);
    var code = stream.AtEndOfStream ? "" : stream.ReadAll();
    stream.Close();
    files.DeleteFile(record);
    return code == "1" ? Session.DoAction("ScheduleReboot") : kSucceeded;
}
