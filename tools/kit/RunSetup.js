// Custom actions of the deployment wrapper (SetupWrapper.wxs). They run inside the Windows
// Installer's script host, where Session is the running installation.

// The installer's answers for a script custom action.
var kSucceeded = 1;
var kFailed = 3;

// Deferred, without impersonation: runs the carried Setup.exe as CustomActionData says
// ("<program>|<switches>") and waits for it. Exit code 0 and 1 succeed; anything else fails
// the installation, which the installer then rolls back.
function RunCarriedSetup() {
    var data = Session.Property("CustomActionData");
    var cut = data.indexOf("|");
    var shell = new ActiveXObject("WScript.Shell");
    var code = shell.Run("\"" + data.substring(0, cut) + "\" " + data.substring(cut + 1), 0, true);
    return code == 0 || code == 1 ? kSucceeded : kFailed;
}

// Deferred, without impersonation: copies the carried Setup.exe ("<from>|<to>"), replacing
// a copy an earlier removal left, so that the program removing the product is not the file
// the installer deletes with the package.
function CopyCarriedSetup() {
    var data = Session.Property("CustomActionData");
    var cut = data.indexOf("|");
    try {
        new ActiveXObject("Scripting.FileSystemObject").CopyFile(data.substring(0, cut), data.substring(cut + 1), true);
    } catch (error) {
        return kFailed;
    }
    return kSucceeded;
}
