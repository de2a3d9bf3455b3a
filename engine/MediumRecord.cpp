#include "engine/MediumRecord.h"

#include "osh/Text.h"
#include "sequence/ItemIntegrity.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <limits>
#include <sstream>

namespace ziz {

const wchar_t kMediumRecordName[] = L"medium.json";

namespace {

// Changes only when an older bootstrapper could no longer read the record right.
const int kRecordFormat = 1;

Poco::JSON::Object::Ptr FileJson(const MediumFile& file)
{
    Poco::JSON::Object::Ptr entry = new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER);
    entry->set("name", osh::ToUtf8(file.Name));
    entry->set("size", static_cast<Poco::UInt64>(file.Size));
    entry->set("md5", osh::ToUtf8(file.Md5));
    entry->set("sha256", osh::ToUtf8(file.Sha256));
    return entry;
}

MediumFile FileFromJson(const Poco::JSON::Object& entry)
{
    MediumFile file;
    file.Name = osh::FromUtf8(entry.getValue<std::string>("name"));
    file.Size = entry.getValue<Poco::UInt64>("size");
    file.HasSize = true;
    file.Md5 = osh::FromUtf8(entry.getValue<std::string>("md5"));
    file.Sha256 = osh::FromUtf8(entry.getValue<std::string>("sha256"));
    if (file.Name.empty()) throw std::runtime_error("a file without a name");
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
    Poco::JSON::Object root(Poco::JSON_PRESERVE_KEY_ORDER);
    root.set("format", kRecordFormat);
    root.set("bootstrapperVersion", osh::ToUtf8(record.BootstrapperVersion));
    root.set("written", record.Written);
    Poco::JSON::Array::Ptr files = new Poco::JSON::Array;
    for (const MediumFile& file : record.Files) files->add(FileJson(file));
    root.set("files", files);
    std::ostringstream text;
    root.stringify(text, 1);
    return text.str();
}

bool ParseMediumRecord(const std::string& text, MediumRecord& out, std::string& problem)
{
    try {
        Poco::JSON::Parser parser;
        const Poco::JSON::Object::Ptr root = parser.parse(text).extract<Poco::JSON::Object::Ptr>();
        if (root.isNull()) throw std::runtime_error("not an object");
        if (root->getValue<int>("format") != kRecordFormat) throw std::runtime_error("unknown format");
        MediumRecord record;
        record.BootstrapperVersion = osh::FromUtf8(root->getValue<std::string>("bootstrapperVersion"));
        record.Written = root->getValue<std::string>("written");
        const Poco::JSON::Array::Ptr files = root->getArray("files");
        if (files.isNull()) throw std::runtime_error("no file list");
        for (std::size_t index = 0; index < files->size(); ++index) {
            const Poco::JSON::Object::Ptr entry = files->getObject(static_cast<unsigned int>(index));
            if (entry.isNull()) throw std::runtime_error("a file entry that is not an object");
            record.Files.push_back(FileFromJson(*entry));
        }
        out = record;
        return true;
    } catch (const Poco::Exception& error) {
        problem = error.displayText();
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
