#include "app/LogFolderChoice.h"

#include "config/LayeredConfiguration.h"
#include "config/VendorFile.h"
#include "engine/ElevatedWorkFolder.h"
#include "osh/FileSystem.h"
#include "osh/SecureFolder.h"
#include "osh/Text.h"

#include <Poco/Exception.h>

#include <exception>

namespace app {

namespace {

const char kDataKey[] = "product.data.pathname";

std::wstring LogFolderOf(const std::string& dataFolder)
{
    return osh::FromUtf8(Norlo::Config::JoinPath(dataFolder, "log"));
}

// The data folder of a trusted override file; `compiled` when the file is missing,
// broken, does not move it, or could be changed by a standard user (then `warning` says so).
std::string TrustedDataFolder(const Norlo::Config::LayeredConfiguration& compiled, std::string& warning)
{
    const std::string fallback = compiled.getString(kDataKey);
    // Only a file that moves the data folder is worth a word.
    if (Norlo::Config::LayeredConfiguration().getString(kDataKey) == fallback) return fallback;
    const std::wstring file = osh::FromUtf8(compiled.VendorFilePath());
    std::string text;
    const osh::FolderVerdict verdict = osh::ReadTrustedSettingsFile(file, text);
    if (!verdict.usable) {
        warning = "Ignoring the path settings of " + compiled.VendorFilePath() + ": " + verdict.reason;
        return fallback;
    }
    try {
        // What was judged is what is read: the text came through the handle held meanwhile.
        Norlo::Config::CheckVendorFileSyntax(text);
        return Norlo::Config::ParseVendorText(text)->getString(kDataKey, fallback);
    } catch (const Poco::Exception&) {
        return fallback;
    }
}

}  // namespace

std::wstring ChooseLogFolder(std::vector<std::string>& warnings)
{
    if (!ziz::IsElevatedRun()) return LogFolderOf(Norlo::Config::LayeredConfiguration().getString(kDataKey));
    const Norlo::Config::LayeredConfiguration compiled(false);
    std::string warning;
    const std::string dataFolder = TrustedDataFolder(compiled, warning);
    if (!warning.empty()) warnings.push_back(warning);
    std::string refusal;
    const std::wstring folder =
        ziz::SafeWriteFolder("the log folder", LogFolderOf(dataFolder), refusal, osh::FromUtf8(dataFolder));
    if (!refusal.empty()) warnings.push_back(refusal);
    return folder;
}

}  // namespace app
