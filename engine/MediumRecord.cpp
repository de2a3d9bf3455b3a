#include "engine/MediumRecord.h"

#include "osh/Text.h"
#include "sequence/ItemIntegrity.h"

#include <rapidxml.hpp>

#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

namespace ziz {

const wchar_t kMediumRecordName[] = L"medium.xml";

namespace {

// Changes only when an older bootstrapper could no longer read the record right.
const int kRecordFormat = 1;

using XmlNode = rapidxml::xml_node<char>;

// Attribute values are UTF-8 with the five XML characters escaped.
std::string Escaped(const std::wstring& text)
{
    std::string out;
    for (const char c : osh::ToUtf8(text)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Attribute(const XmlNode& element, const char* name)
{
    const rapidxml::xml_attribute<char>* attribute = element.first_attribute(name);
    if (attribute == nullptr) throw std::runtime_error(std::string("no ") + name + " in <" + element.name() + ">");
    return std::string(attribute->value(), attribute->value_size());
}

MediumFile FileFromXml(const XmlNode& element)
{
    MediumFile file;
    file.Name = osh::FromUtf8(Attribute(element, "name"));
    if (file.Name.empty()) throw std::runtime_error("a file without a name");
    if (!ParseItemSize(osh::FromUtf8(Attribute(element, "size")), file.Size))
        throw std::runtime_error("not a size: " + Attribute(element, "size"));
    file.HasSize = true;
    file.Md5 = osh::FromUtf8(Attribute(element, "md5"));
    file.Sha256 = osh::FromUtf8(Attribute(element, "sha256"));
    return file;
}

std::uint64_t PresentBytes(const std::map<std::wstring, std::uint64_t>& present, const std::wstring& name, bool& found)
{
    for (const auto& entry : present) {
        if (osh::EqualsIgnoreAsciiCase(entry.first, name)) {
            found = true;
            return entry.second;
        }
    }
    found = false;
    return 0;
}

}  // namespace

std::string FormatMediumRecord(const MediumRecord& record)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<medium format=\"" + std::to_string(kRecordFormat) +
                       "\" bootstrapperVersion=\"" + Escaped(record.BootstrapperVersion) + "\" written=\"" +
                       Escaped(osh::FromUtf8(record.Written)) + "\">\r\n";
    for (const MediumFile& file : record.Files) {
        text += "  <file name=\"" + Escaped(file.Name) + "\" size=\"" + std::to_string(file.Size) + "\" md5=\"" +
                Escaped(file.Md5) + "\" sha256=\"" + Escaped(file.Sha256) + "\"/>\r\n";
    }
    return text + "</medium>\r\n";
}

bool ParseMediumRecord(const std::string& text, MediumRecord& out, std::string& problem)
{
    try {
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        // The document object carries a 64 KiB pool; keep it off the stack.
        auto document = std::make_unique<rapidxml::xml_document<char>>();
        document->parse<rapidxml::parse_default>(buffer.data());
        const XmlNode* root = document->first_node("medium");
        if (root == nullptr) throw std::runtime_error("no <medium>");
        if (Attribute(*root, "format") != std::to_string(kRecordFormat)) throw std::runtime_error("unknown format");
        MediumRecord record;
        record.BootstrapperVersion = osh::FromUtf8(Attribute(*root, "bootstrapperVersion"));
        record.Written = Attribute(*root, "written");
        for (const XmlNode* file = root->first_node("file"); file != nullptr; file = file->next_sibling("file"))
            record.Files.push_back(FileFromXml(*file));
        out = record;
        return true;
    } catch (const rapidxml::parse_error& error) {
        problem = std::string("XML: ") + error.what();
    } catch (const std::exception& error) {
        problem = error.what();
    }
    return false;
}

MediumFile ExpectedFromItem(const InstallItem& item)
{
    MediumFile expected;
    expected.Name = item.Filename;
    expected.Md5 = item.Hash;
    expected.Sha256 = item.Sha256;
    expected.HasSize = !item.Size.empty() && ParseItemSize(item.Size, expected.Size);
    return expected;
}

bool NeedsSourceDigests(const MediumFile& expected) { return expected.Md5.empty() && expected.Sha256.empty(); }

MediumFile RecordedFrom(const MediumFile& expected, const osh::FileDigests& digests)
{
    MediumFile recorded;
    recorded.Name = expected.Name;
    recorded.Md5 = digests.Md5;
    recorded.Sha256 = digests.Sha256;
    recorded.HasSize = true;
    recorded.Size = digests.Bytes;
    return recorded;
}

std::string DigestMismatch(const MediumFile& expected, const osh::FileDigests& digests)
{
    if (expected.HasSize && expected.Size != digests.Bytes) return "size";
    if (!expected.Md5.empty() && !DigestsEqual(expected.Md5, digests.Md5)) return "md5";
    if (!expected.Sha256.empty() && !DigestsEqual(expected.Sha256, digests.Sha256)) return "sha256";
    return std::string();
}

MediumAction PlanMediumFile(const MediumFile& expected, const MediumFile* recorded, bool present,
                            std::uint64_t presentBytes)
{
    if (!present) return MediumAction::Copy;
    if (expected.HasSize && presentBytes != expected.Size) return MediumAction::Copy;
    if (recorded == nullptr || recorded->Size != presentBytes) return MediumAction::Verify;
    // The record vouches only for what it names the same way the expectation does.
    const osh::FileDigests asRecorded{recorded->Md5, recorded->Sha256, recorded->Size};
    const bool sameDigests = !NeedsSourceDigests(expected) && DigestMismatch(expected, asRecorded).empty();
    return sameDigests ? MediumAction::Keep : MediumAction::Verify;
}

std::uint64_t MaxFileBytes(const std::wstring& fileSystem)
{
    // FAT12, FAT16 and FAT32 keep a file's size in 32 bits; exFAT, NTFS and others do not.
    const std::wstring name = osh::ToLowerAscii(fileSystem);
    if (name == L"fat" || name == L"fat12" || name == L"fat16" || name == L"fat32") return 0xFFFFFFFFull;
    return std::numeric_limits<std::uint64_t>::max();
}

std::string FileTooLargeForMedium(const std::wstring& target, const std::wstring& fileSystem,
                                  const std::wstring& name, std::uint64_t bytes)
{
    const std::uint64_t most = MaxFileBytes(fileSystem);
    if (bytes <= most) return std::string();
    return "The medium " + osh::ToUtf8(target) + " (" + osh::ToUtf8(fileSystem) + ") cannot hold " +
           osh::ToUtf8(name) + ": " + std::to_string(bytes) + " bytes needed, at most " + std::to_string(most) +
           " bytes per file";
}

std::string MediumRecordMismatch(const MediumRecord& record, const std::map<std::wstring, std::uint64_t>& present)
{
    if (record.Files.empty()) return "the record names no files";
    for (const MediumFile& file : record.Files) {
        bool found = false;
        const std::uint64_t bytes = PresentBytes(present, file.Name, found);
        if (!found) return osh::ToUtf8(file.Name) + " is missing";
        if (bytes != file.Size) {
            return osh::ToUtf8(file.Name) + " has " + std::to_string(bytes) + " bytes, the record says " +
                   std::to_string(file.Size);
        }
    }
    return std::string();
}

}  // namespace ziz
