#include "config/LayeredConfiguration.h"

#include "config/MapConfiguration.h"
#include "config/TrayIconData.h"
#include "config/VendorFile.h"
#include "osh/Text.h"

#include "BuildConfig.h"

#include <Poco/Exception.h>

#include <shlobj.h>

#include <exception>

namespace Norlo {
namespace Config {

namespace {

constexpr int kProgramFilesFolder = 38;     // CSIDL_PROGRAM_FILES
constexpr int kCommonAppDataFolder = 35;    // CSIDL_COMMON_APPDATA
constexpr int kUpdateCheckInterval = 604800;  // seconds: one week
constexpr int kMaxDashThreads = 5;
constexpr int kSetupLockWait = 600;    // seconds another setup may hold the machine's run lock
constexpr int kBackupJobWait = 3600;   // seconds a backup or restore job may hold up a change

// The folder's current path in UTF-8; empty when the shell cannot tell.
std::string FolderPath(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK) return {};
    return osh::ToUtf8(buffer);
}

template <size_t Size>
std::string Bytes(const unsigned char (&data)[Size])
{
    return std::string(reinterpret_cast<const char*>(data), Size);
}

}  // namespace

const char* const LayeredConfiguration::VendorFileName = ".vendor.config";

std::string VersionText(int major, int minor, int config, int revision)
{
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(config) + "."
           + std::to_string(revision);
}

std::string JoinPath(const std::string& directory, const std::string& name)
{
    if (directory.empty()) return name;
    if (directory.back() == '\\') return directory + name;
    return directory + "\\" + name;
}

LayeredConfiguration::LayeredConfiguration() : LayeredConfiguration(true) {}

LayeredConfiguration::LayeredConfiguration(bool readVendorFile)
{
    AddBaseLayer();
    AddCompanyLayer();
    AddProductLayer();
    if (readVendorFile) {
        AddVendorFileLayer();
    } else {
        vendorFilePath_ = JoinPath(getString("product.data.pathname"), VendorFileName);
    }
}

LayeredConfiguration::~LayeredConfiguration() = default;

void LayeredConfiguration::AddBaseLayer()
{
    MapConfiguration::Ptr layer(new MapConfiguration);
    layer->setInt("base.version.major", NORLO_VERSION_MAJOR);
    layer->setInt("base.version.minor", NORLO_VERSION_MINOR);
    layer->setInt("base.version.config", NORLO_VERSION_BUILD);
    layer->setInt("base.version.revision", NORLO_VERSION_REVISION);
    layer->setString("base.version",
                     VersionText(NORLO_VERSION_MAJOR, NORLO_VERSION_MINOR, NORLO_VERSION_BUILD, NORLO_VERSION_REVISION));
    layer->setString("base.program.install.path", FolderPath(kProgramFilesFolder));
    layer->setString("base.program.data.path", FolderPath(kCommonAppDataFolder));
    add(layer, BasePriority);
}

void LayeredConfiguration::AddCompanyLayer()
{
    MapConfiguration::Ptr layer(new MapConfiguration);
    layer->setString("company.name.short", "Norlo");
    add(layer, CompanyPriority);
}

void LayeredConfiguration::AddProductLayer()
{
    MapConfiguration::Ptr layer(new MapConfiguration);
    const std::string longName = "Norlo 5";
    layer->setString("product.name.short", "Norlo");
    layer->setString("product.name.long", longName);
    layer->setString("product.registry.subkey", "SOFTWARE\\Norlo\\Norlo 5");
    layer->setString("product.registry.64.subkey", "SOFTWARE\\Wow6432Node\\Norlo\\Norlo 5");
    layer->setString("product.install.subdir", longName);
    // The folders come from the base layer, which is already part of this configuration.
    layer->setString("product.install.pathname", JoinPath(getString("base.program.install.path"), longName));
    layer->setString("product.data.pathname", JoinPath(getString("base.program.data.path"), longName));
    layer->setString("product.data.subdir", longName);
    layer->setString("recovery.media.url", NORLO_RECOVERY_MEDIA_URL);
    layer->setString("cdrecovery.media.source.file", "Norlo-Recovery-5_0.iso");
    layer->setString("cdrecovery.media.local.file", "Norlo-Recovery.iso");
    layer->setString("cdrecovery.media.source.md5", "Norlo-Recovery-5_0.md5");
    layer->setString("cdrecovery.media.local.md5", "Norlo-Recovery.md5");
    layer->setInt("app.tarnview.interval.updateCheck", kUpdateCheckInterval);
    layer->setInt("product.max.dash.threads", kMaxDashThreads);
    // The object the installed product holds while a backup or restore job runs, and how
    // long a setup waits for such a job, and for another setup, before it gives up.
    layer->setString("product.job.object.name", "Global\\Norlo5-BackupJob");
    layer->setInt("setup.job.wait.seconds", kBackupJobWait);
    layer->setInt("setup.lock.wait.seconds", kSetupLockWait);
    // Raw PNG bytes; the string's length is the image's byte count.
    layer->setString("product.icon.tray.green", Bytes(kGreenTrayIcon));
    layer->setString("product.icon.tray.amber", Bytes(kAmberTrayIcon));
    layer->setString("product.icon.tray.red", Bytes(kRedTrayIcon));
    add(layer, ProductPriority);
}

void LayeredConfiguration::AddVendorFileLayer()
{
    // Looked up before the file is read, so the file cannot move itself.
    vendorFilePath_ = JoinPath(getString("product.data.pathname"), VendorFileName);
    try {
        Poco::AutoPtr<Poco::Util::MapConfiguration> layer = LoadVendorFile(vendorFilePath_);
        if (layer->hasProperty("base.version.config")) {
            int config = layer->getInt("base.version.config");
            layer->setString("base.version",
                             VersionText(NORLO_VERSION_MAJOR, NORLO_VERSION_MINOR, config, NORLO_VERSION_REVISION));
        }
        add(layer, VendorFilePriority);
    } catch (const Poco::Exception&) {
        // No file, an unreadable one or a broken one: the compiled-in values stand.
    } catch (const std::exception&) {
    }
}

}  // namespace Config
}  // namespace Norlo
