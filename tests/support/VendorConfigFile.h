#pragma once
// The product's override file ".vendor.config" for the length of one test.
//
// The file lives in the real product data directory of the Wine prefix (the common
// application-data folder followed by "Norlo 5"), the one place the program reads it from.
// The object writes it and removes it again, together with the directory when the object
// had to create that.
#include <string>

namespace testenv {

// "<common application data>\Norlo 5", asked from the shell directly.
std::wstring ProductDataDirectory();

class VendorConfigFile {
public:
    // Writes the bytes as they are (property-file text, or anything a test wants to try).
    explicit VendorConfigFile(const std::string& content);
    ~VendorConfigFile();

    VendorConfigFile(const VendorConfigFile&) = delete;
    VendorConfigFile& operator=(const VendorConfigFile&) = delete;

    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
    std::wstring createdDirectory_;
};

// Whole file contents, empty when the file cannot be read.
std::string ReadFileBytes(const std::wstring& path);

// A line for a ".vendor.config" that sets product.data.pathname to a Windows path,
// with the backslashes escaped as the property-file format wants them.
std::string DataPathLine(const std::wstring& directory);

}  // namespace testenv
