// The vendor configuration: compiled-in layers, the override file and the tray icons.
#include "config/LayeredConfiguration.h"
#include "config/VendorFile.h"

#include "support/TestEnvironment.h"
#include "support/VendorConfigFile.h"

#include "BuildConfig.h"

#include <Poco/Exception.h>
#include <Poco/InflatingStream.h>

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Norlo::Config::LayeredConfiguration;

// The product is a 32-bit program, given the x86 folder; the 64-bit test build of a host
// without 32-bit code gets the native one.
#ifdef _WIN64
const std::string kProgramFilesOfThisBuild = "C:\\Program Files";
#else
const std::string kProgramFilesOfThisBuild = "C:\\Program Files (x86)";
#endif

std::string Folder(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer));
    return testenv::Narrow(buffer);
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Every test starts and ends without an override file in the product data directory.
class ConfigTestBase : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::wstring path = testenv::ProductDataDirectory() + L"\\.vendor.config";
        ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()))
            << "a leftover override file is in the way: " << testenv::Narrow(path);
    }
};

// ---------------------------------------------------------------------------------------
// Without an override file

class ConfigDefaults : public ConfigTestBase {};

TEST_F(ConfigDefaults, BaseVersionIsMadeOfTheFourCompiledInNumbers)
{
    LayeredConfiguration config;
    EXPECT_EQ("5.0.1035.10828", config.getString("base.version"));
    EXPECT_EQ(5, config.getInt("base.version.major"));
    EXPECT_EQ(0, config.getInt("base.version.minor"));
    EXPECT_EQ(1035, config.getInt("base.version.config"));
    EXPECT_EQ(10828, config.getInt("base.version.revision"));
}

TEST_F(ConfigDefaults, FoldersAreTheCurrentShellFoldersOfThisThirtyTwoBitProgram)
{
    LayeredConfiguration config;
    EXPECT_EQ(Folder(CSIDL_PROGRAM_FILES), config.getString("base.program.install.path"));
    EXPECT_EQ(Folder(CSIDL_COMMON_APPDATA), config.getString("base.program.data.path"));
    // A 32-bit program on 64-bit Windows is given the x86 program-files folder.
    EXPECT_EQ(kProgramFilesOfThisBuild, config.getString("base.program.install.path"));
    EXPECT_EQ("C:\\ProgramData", config.getString("base.program.data.path"));
}

TEST_F(ConfigDefaults, DerivedPathsAppendTheLongProductName)
{
    LayeredConfiguration config;
    EXPECT_TRUE(EndsWith(config.getString("product.install.pathname"), "\\Norlo 5"));
    EXPECT_EQ(kProgramFilesOfThisBuild + "\\Norlo 5", config.getString("product.install.pathname"));
    EXPECT_EQ("C:\\ProgramData\\Norlo 5", config.getString("product.data.pathname"));
    EXPECT_EQ(testenv::Narrow(testenv::ProductDataDirectory()), config.getString("product.data.pathname"));
    EXPECT_EQ(testenv::Narrow(testenv::ProductDataDirectory()) + "\\.vendor.config", config.VendorFilePath());
}

TEST_F(ConfigDefaults, EveryProductAndCompanyKeyHasItsValue)
{
    LayeredConfiguration config;
    const std::pair<const char*, const char*> texts[] = {
        {"company.name.short", "Norlo"},
        {"product.name.short", "Norlo"},
        {"product.name.long", "Norlo 5"},
        {"product.registry.subkey", "SOFTWARE\\Norlo\\Norlo 5"},
        {"product.registry.64.subkey", "SOFTWARE\\Wow6432Node\\Norlo\\Norlo 5"},
        {"product.install.subdir", "Norlo 5"},
        {"product.data.subdir", "Norlo 5"},
        {"recovery.media.url", NORLO_RECOVERY_MEDIA_URL},
        {"cdrecovery.media.source.file", "Norlo-Recovery-5_0.iso"},
        {"cdrecovery.media.local.file", "Norlo-Recovery.iso"},
        {"cdrecovery.media.source.md5", "Norlo-Recovery-5_0.md5"},
        {"cdrecovery.media.local.md5", "Norlo-Recovery.md5"},
    };
    for (const auto& [key, value] : texts) EXPECT_EQ(value, config.getString(key)) << key;
    EXPECT_EQ(604800, config.getInt("app.tarnview.interval.updateCheck"));
    EXPECT_EQ(5, config.getInt("product.max.dash.threads"));
    EXPECT_EQ(0, std::string(NORLO_RECOVERY_MEDIA_URL).rfind("http", 0));
}

TEST_F(ConfigDefaults, AnUnknownKeyThrowsNotFoundAndDefaultedReadsFallBack)
{
    LayeredConfiguration config;
    EXPECT_THROW(config.getString("product.no.such.key"), Poco::NotFoundException);
    EXPECT_EQ("fallback", config.getString("product.no.such.key", "fallback"));
    EXPECT_FALSE(config.hasProperty("product.no.such.key"));
}

TEST_F(ConfigDefaults, PathsJoinWithOneBackslash)
{
    using Norlo::Config::JoinPath;
    EXPECT_EQ("C:\\a\\Norlo 5", JoinPath("C:\\a", "Norlo 5"));
    EXPECT_EQ("C:\\a\\Norlo 5", JoinPath("C:\\a\\", "Norlo 5"));
    EXPECT_EQ("C:\\Norlo 5", JoinPath("C:\\", "Norlo 5"));
    // A folder the shell could not name leaves the sub-directory alone.
    EXPECT_EQ("Norlo 5", JoinPath("", "Norlo 5"));
    EXPECT_EQ("1.2.3.4", Norlo::Config::VersionText(1, 2, 3, 4));
}

// ---------------------------------------------------------------------------------------
// With an override file

class ConfigOverride : public ConfigTestBase {};

TEST_F(ConfigOverride, VersionConfigRebuildsTheVersionText)
{
    testenv::VendorConfigFile file("base.version.config=2000\n");
    LayeredConfiguration config;
    EXPECT_EQ("5.0.2000.10828", config.getString("base.version"));
    EXPECT_EQ(2000, config.getInt("base.version.config"));
    EXPECT_EQ(5, config.getInt("base.version.major"));
    EXPECT_EQ(10828, config.getInt("base.version.revision"));
}

TEST_F(ConfigOverride, OnlyTheConfigNumberOfTheFileGoesIntoTheVersionText)
{
    testenv::VendorConfigFile file("base.version.major=9\nbase.version.revision=77\nbase.version.config=12\n");
    LayeredConfiguration config;
    EXPECT_EQ("5.0.12.10828", config.getString("base.version"));
    EXPECT_EQ(9, config.getInt("base.version.major"));
    EXPECT_EQ(77, config.getInt("base.version.revision"));
}

TEST_F(ConfigOverride, OtherNumbersWithoutTheConfigNumberLeaveTheVersionText)
{
    testenv::VendorConfigFile file("base.version.major=9\n");
    LayeredConfiguration config;
    EXPECT_EQ("5.0.1035.10828", config.getString("base.version"));
    EXPECT_EQ(9, config.getInt("base.version.major"));
}

TEST_F(ConfigOverride, AnExplicitVersionTextLosesToTheConfigNumber)
{
    testenv::VendorConfigFile file("base.version=1.2.3.4\nbase.version.config=2000\n");
    LayeredConfiguration config;
    EXPECT_EQ("5.0.2000.10828", config.getString("base.version"));
}

TEST_F(ConfigOverride, LongNameChangesThatKeyOnly)
{
    testenv::VendorConfigFile file("product.name.long=Other Product\n");
    LayeredConfiguration config;
    EXPECT_EQ("Other Product", config.getString("product.name.long"));
    EXPECT_EQ("Norlo 5", config.getString("product.install.subdir"));
    EXPECT_EQ("Norlo 5", config.getString("product.data.subdir"));
    EXPECT_EQ(kProgramFilesOfThisBuild + "\\Norlo 5", config.getString("product.install.pathname"));
    EXPECT_EQ("C:\\ProgramData\\Norlo 5", config.getString("product.data.pathname"));
}

TEST_F(ConfigOverride, TheFileOutranksEveryCompiledInLayer)
{
    testenv::VendorConfigFile file("company.name.short=Acme\nbase.program.data.path=D:\\\\Data\nextra.key=42\n");
    LayeredConfiguration config;
    EXPECT_EQ("Acme", config.getString("company.name.short"));
    EXPECT_EQ("D:\\Data", config.getString("base.program.data.path"));
    EXPECT_EQ(42, config.getInt("extra.key"));
    // Derived when the file was not read yet.
    EXPECT_EQ("C:\\ProgramData\\Norlo 5", config.getString("product.data.pathname"));
}

TEST_F(ConfigOverride, DataPathnameDoesNotMoveTheFileLookup)
{
    std::wstring elsewhere = testenv::MakeScratchDirectory(L"norlo-config");
    // An override file at the new place must never be read.
    {
        testenv::VendorConfigFile file(testenv::DataPathLine(elsewhere));
        HANDLE decoy = CreateFileW((elsewhere + L"\\.vendor.config").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, decoy);
        const char decoyText[] = "product.name.long=Decoy\n";
        DWORD written = 0;
        WriteFile(decoy, decoyText, sizeof decoyText - 1, &written, nullptr);
        CloseHandle(decoy);

        LayeredConfiguration config;
        EXPECT_EQ(testenv::Narrow(elsewhere), config.getString("product.data.pathname"));
        EXPECT_EQ(testenv::Narrow(testenv::ProductDataDirectory()) + "\\.vendor.config", config.VendorFilePath());
        EXPECT_EQ("Norlo 5", config.getString("product.name.long"));
    }
    testenv::RemoveTree(elsewhere);
}

TEST_F(ConfigOverride, TheUsualPropertyFileFormsAreRead)
{
    testenv::VendorConfigFile file(
        "# comment line\r\n"
        "! another comment\r\n"
        "\r\n"
        "   product.name.long = Spaced Name   \r\n"
        "product.name.short: Colon\r\n"
        "recovery.media.url=http://host/a\\\n"
        "b/\n"
        "cdrecovery.media.local.file=tab\\there\n"
        "product.empty=\n"
        "product.escaped=a\\nb\\\\c\\qd\\re\\ff  \\t\n"
        "product.utf8=Gr\xc3\xbc\xc3\x9f""e\n");
    LayeredConfiguration config;
    EXPECT_EQ("Spaced Name", config.getString("product.name.long"));
    EXPECT_EQ("Colon", config.getString("product.name.short"));
    EXPECT_EQ("http://host/ab/", config.getString("recovery.media.url"));
    EXPECT_EQ("tab\there", config.getString("cdrecovery.media.local.file"));
    EXPECT_EQ("", config.getString("product.empty"));
    // Escaped line ends and blanks stay inside a value; at its end they are trimmed with it.
    EXPECT_EQ("a\nb\\cqd\re\ff", config.getString("product.escaped"));
    EXPECT_EQ("Gr\xc3\xbc\xc3\x9f""e", config.getString("product.utf8"));
}

TEST_F(ConfigOverride, AnEmptyFileChangesNothing)
{
    testenv::VendorConfigFile file("");
    LayeredConfiguration config;
    EXPECT_EQ("5.0.1035.10828", config.getString("base.version"));
    EXPECT_EQ("Norlo 5", config.getString("product.name.long"));
}

// Each of these files also holds a good line; a broken file must not be half applied.
TEST_F(ConfigOverride, ABrokenFileIsIgnoredAsAWhole)
{
    const std::string good = "product.name.long=Changed\nbase.version.config=2000\n";
    const std::pair<const char*, std::string> broken[] = {
        {"a line without a separator", good + "just some words\n"},
        {"a separator-less last line", good + "trailing"},
        {"an empty key", good + "=value\n"},
        {"a blank key before a colon", good + "   : value\n"},
        {"a key with a blank inside", good + "product name=x\n"},
        {"binary data", good + std::string("a=b\0c\n", 6)},
        {"a control character in the key", good + "pro\x01""duct=x\n"},
        {"a config number that is no number", "product.name.long=Changed\nbase.version.config=twenty\n"},
    };
    for (const auto& [what, content] : broken) {
        testenv::VendorConfigFile file(content);
        LayeredConfiguration config;
        EXPECT_EQ("Norlo 5", config.getString("product.name.long")) << what;
        EXPECT_EQ("5.0.1035.10828", config.getString("base.version")) << what;
        EXPECT_EQ(1035, config.getInt("base.version.config")) << what;
    }
}

TEST_F(ConfigOverride, AnUnreadableFileIsIgnored)
{
    // A directory in the file's place cannot be opened as a file.
    std::wstring directory = testenv::ProductDataDirectory();
    bool createdParent = CreateDirectoryW(directory.c_str(), nullptr) != FALSE;
    std::wstring path = directory + L"\\.vendor.config";
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    {
        LayeredConfiguration config;
        EXPECT_EQ("5.0.1035.10828", config.getString("base.version"));
    }
    RemoveDirectoryW(path.c_str());
    if (createdParent) RemoveDirectoryW(directory.c_str());
}

TEST(VendorFileSyntax, NamesTheFirstBadLine)
{
    try {
        Norlo::Config::CheckVendorFileSyntax("a=1\n# c\n\nb: 2\nbroken\nc=3\n");
        FAIL() << "no exception";
    } catch (const Poco::SyntaxException& e) {
        EXPECT_NE(std::string::npos, e.displayText().find("line 5 ")) << e.displayText();
    }
    // A continuation line belongs to the value before it.
    EXPECT_NO_THROW(Norlo::Config::CheckVendorFileSyntax("a=1\\\nno separator here\nb=2"));
    EXPECT_NO_THROW(Norlo::Config::CheckVendorFileSyntax("a=1\\\r\nno separator\r\n"));
    EXPECT_THROW(Norlo::Config::CheckVendorFileSyntax("a=1\\\\\nno separator here\n"), Poco::SyntaxException);
}

// ---------------------------------------------------------------------------------------
// The tray icons

uint32_t Crc32(const std::string& bytes)
{
    uint32_t crc = 0xffffffffu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint32_t BigEndian32(const std::string& bytes, size_t at)
{
    return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
           (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
}

struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;  // width * height * 4
};

int Paeth(int a, int b, int c)
{
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Undoes the per-row filters of an 8-bit RGBA image.
std::vector<uint8_t> Unfilter(const std::string& raw, uint32_t width, uint32_t height)
{
    const size_t stride = width * 4;
    std::vector<uint8_t> out(stride * height);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t filter = uint8_t(raw[y * (stride + 1)]);
        EXPECT_LE(filter, 4) << "row " << y;
        for (size_t x = 0; x < stride; ++x) {
            int value = uint8_t(raw[y * (stride + 1) + 1 + x]);
            int left = x >= 4 ? out[y * stride + x - 4] : 0;
            int up = y > 0 ? out[(y - 1) * stride + x] : 0;
            int upLeft = (x >= 4 && y > 0) ? out[(y - 1) * stride + x - 4] : 0;
            switch (filter) {
            case 1: value += left; break;
            case 2: value += up; break;
            case 3: value += (left + up) / 2; break;
            case 4: value += Paeth(left, up, upLeft); break;
            default: break;
            }
            out[y * stride + x] = uint8_t(value);
        }
    }
    return out;
}

// Walks the chunks (each CRC checked), reads the header and inflates the image data.
Image DecodePng(const std::string& png)
{
    Image image;
    const std::string signature("\x89PNG\r\n\x1a\n", 8);
    EXPECT_EQ(signature, png.substr(0, 8));
    std::string compressed;
    std::vector<std::string> kinds;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        uint32_t length = BigEndian32(png, at);
        if (at + 12 + length > png.size()) break;
        std::string kindAndData = png.substr(at + 4, 4 + length);
        EXPECT_EQ(BigEndian32(png, at + 8 + length), Crc32(kindAndData)) << "chunk " << kindAndData.substr(0, 4);
        std::string kind = kindAndData.substr(0, 4);
        kinds.push_back(kind);
        if (kind == "IHDR") {
            EXPECT_EQ(13u, length);
            image.width = BigEndian32(kindAndData, 4);
            image.height = BigEndian32(kindAndData, 8);
            EXPECT_EQ(8, kindAndData[12]) << "bit depth";
            EXPECT_EQ(6, kindAndData[13]) << "colour type RGBA";
            EXPECT_EQ(0, kindAndData[16]) << "no interlacing";
        } else if (kind == "IDAT") {
            compressed += kindAndData.substr(4);
        }
        at += 12 + length;
    }
    EXPECT_EQ(png.size(), at) << "bytes after the last chunk";
    EXPECT_FALSE(kinds.empty());
    if (kinds.empty()) return image;
    EXPECT_EQ("IHDR", kinds.front());
    EXPECT_EQ("IEND", kinds.back());

    std::istringstream compressedStream(compressed);
    Poco::InflatingInputStream inflater(compressedStream, Poco::InflatingStreamBuf::STREAM_ZLIB);
    std::string raw((std::istreambuf_iterator<char>(inflater)), std::istreambuf_iterator<char>());
    EXPECT_EQ(size_t(image.height) * (image.width * 4 + 1), raw.size());
    if (raw.size() == size_t(image.height) * (image.width * 4 + 1)) image.rgba = Unfilter(raw, image.width, image.height);
    return image;
}

struct Colour {
    double red = 0, green = 0, blue = 0;
    int opaque = 0;
};

Colour AverageOpaqueColour(const Image& image)
{
    Colour colour;
    for (size_t i = 0; i + 3 < image.rgba.size(); i += 4) {
        if (image.rgba[i + 3] < 128) continue;
        colour.red += image.rgba[i];
        colour.green += image.rgba[i + 1];
        colour.blue += image.rgba[i + 2];
        ++colour.opaque;
    }
    if (colour.opaque > 0) {
        colour.red /= colour.opaque;
        colour.green /= colour.opaque;
        colour.blue /= colour.opaque;
    }
    return colour;
}

class ConfigIcons : public ConfigTestBase {
protected:
    Image Decode(const char* key, size_t expectedSize)
    {
        LayeredConfiguration config;
        std::string png = config.getString(key);
        EXPECT_EQ(expectedSize, png.size()) << key;
        Image image = DecodePng(png);
        EXPECT_EQ(16u, image.width) << key;
        EXPECT_EQ(16u, image.height) << key;
        EXPECT_EQ(16u * 16u * 4u, image.rgba.size()) << key;
        return image;
    }
};

TEST_F(ConfigIcons, GreenIsASixteenPixelPngThatIsMostlyGreen)
{
    Colour colour = AverageOpaqueColour(Decode("product.icon.tray.green", 374));
    EXPECT_GT(colour.opaque, 100);
    EXPECT_GT(colour.green, colour.red + 60);
    EXPECT_GT(colour.green, colour.blue + 60);
}

TEST_F(ConfigIcons, AmberIsASixteenPixelPngThatIsMostlyAmber)
{
    Colour colour = AverageOpaqueColour(Decode("product.icon.tray.amber", 355));
    EXPECT_GT(colour.opaque, 100);
    EXPECT_GT(colour.red, 180);
    EXPECT_GT(colour.green, colour.blue + 80);  // amber: red and a good share of green
    EXPECT_GT(colour.red, colour.green);
}

TEST_F(ConfigIcons, RedIsASixteenPixelPngThatIsMostlyRed)
{
    Colour colour = AverageOpaqueColour(Decode("product.icon.tray.red", 327));
    EXPECT_GT(colour.opaque, 100);
    EXPECT_GT(colour.red, colour.green + 100);
    EXPECT_GT(colour.red, colour.blue + 100);
}

TEST_F(ConfigIcons, CornersAreTransparent)
{
    for (const char* key : {"product.icon.tray.green", "product.icon.tray.amber", "product.icon.tray.red"}) {
        LayeredConfiguration config;
        Image image = DecodePng(config.getString(key));
        ASSERT_EQ(16u * 16u * 4u, image.rgba.size()) << key;
        EXPECT_EQ(0, image.rgba[3]) << key;
        EXPECT_EQ(0, image.rgba[(16 * 16 - 1) * 4 + 3]) << key;
        EXPECT_EQ(255, image.rgba[(8 * 16 + 8) * 4 + 3]) << key;
    }
}

}  // namespace
