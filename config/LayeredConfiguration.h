#pragma once
// The vendor configuration: product identity, locations and defaults in four layers.
//
//   priority -25  the override file ".vendor.config" in the product data directory
//   priority  25  product defaults
//   priority  50  company defaults
//   priority  75  version numbers and system folders
//
// A lower priority is searched first. The whole configuration is built by the constructor;
// a missing or broken override file leaves only the three compiled-in layers.
#include "config/AbstractConfiguration.h"

#include <Poco/AutoPtr.h>
#include <Poco/Util/LayeredConfiguration.h>

#include <string>

namespace Norlo {
namespace Config {

class LayeredConfiguration : public Poco::Util::LayeredConfiguration, public AbstractConfiguration {
public:
    using Ptr = Poco::AutoPtr<LayeredConfiguration>;

    static constexpr int VendorFilePriority = -25;
    static constexpr int ProductPriority = 25;
    static constexpr int CompanyPriority = 50;
    static constexpr int BasePriority = 75;

    // File name of the override file below product.data.pathname.
    static const char* const VendorFileName;

    LayeredConfiguration();
    // Without the override file when readVendorFile is false: the compiled-in values alone.
    explicit LayeredConfiguration(bool readVendorFile);
    // Public so that a short-lived instance may live on the stack; never hand such an
    // instance to a Poco::AutoPtr.
    ~LayeredConfiguration() override;

    // Where the override file is looked for (UTF-8): the compiled-in product data
    // directory, whatever the override file itself says about that directory.
    const std::string& VendorFilePath() const { return vendorFilePath_; }

private:
    void AddBaseLayer();
    void AddCompanyLayer();
    void AddProductLayer();
    void AddVendorFileLayer();

    std::string vendorFilePath_;
};

// "a.b.c.d" of four numbers.
std::string VersionText(int major, int minor, int config, int revision);

// A directory and a name joined with one backslash; the name alone when the directory is empty.
std::string JoinPath(const std::string& directory, const std::string& name);

}  // namespace Config
}  // namespace Norlo
