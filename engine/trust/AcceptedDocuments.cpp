#include "engine/trust/AcceptedDocuments.h"

#include "osh/Elevation.h"
#include "osh/Log.h"
#include "osh/PersistentStore.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>

#include <cstdio>
#include <exception>

namespace ziz {

namespace {

const wchar_t kGroup[] = L"UpdateDocument";
const wchar_t kSerial[] = L"HighestSerial";
const wchar_t kPublishers[] = L"Publishers";

// The store's own read goes to the user hive when not elevated, which the user can write:
// these values are read from the machine hive whatever the run's rights.
bool ReadMachineValue(const wchar_t* name, std::wstring& value)
{
    std::wstring company, product;
    if (!osh::GetWellKnownValue(L"company", company) || !osh::GetWellKnownValue(L"product", product)) return false;
    const std::wstring path = L"SOFTWARE\\" + company + L"\\" + product + L"\\" + kGroup;
    osh::ScopedKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_WOW64_64KEY | KEY_QUERY_VALUE, key.receive()) !=
        ERROR_SUCCESS)
        return false;
    wchar_t buffer[4096] = {};
    DWORD type = 0;
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    value = buffer;
    return true;
}

bool ReadSerialValue(const std::string& text, unsigned long long& serial)
{
    if (text.empty() || text.size() > 18) return false;
    serial = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        serial = serial * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

bool Known(const std::vector<AnnouncedPublisher>& publishers, const AnnouncedPublisher& next)
{
    for (const AnnouncedPublisher& publisher : publishers)
        if (publisher.subject == next.subject && publisher.issuerKeySha256 == next.issuerKeySha256) return true;
    return false;
}

std::string Hex(const std::vector<unsigned char>& bytes)
{
    std::string text;
    char pair[3];
    for (const unsigned char byte : bytes) {
        std::snprintf(pair, sizeof(pair), "%02x", byte);
        text += pair;
    }
    return text;
}

}  // namespace

std::string PublishersText(const std::vector<AnnouncedPublisher>& publishers)
{
    std::string text;
    for (const AnnouncedPublisher& publisher : publishers)
        text += (text.empty() ? "" : ";") + Hex(publisher.subject) + "/" + publisher.issuerKeySha256;
    return text;
}

std::vector<AnnouncedPublisher> ReadPublishersText(const std::string& text)
{
    std::vector<AnnouncedPublisher> publishers;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(start, end - start);
        const std::size_t slash = pair.find('/');
        AnnouncedPublisher publisher;
        if (slash != std::string::npos && HexToBytes(pair.substr(0, slash), publisher.subject) &&
            !publisher.subject.empty() && pair.size() - slash - 1 == 64) {
            publisher.issuerKeySha256 = pair.substr(slash + 1);
            publishers.push_back(publisher);
        }
        start = end + 1;
    }
    return publishers;
}

AcceptedRecord ReadAcceptedRecord()
{
    AcceptedRecord record;
    std::wstring value;
    if (ReadMachineValue(kSerial, value)) record.seenBefore = ReadSerialValue(osh::Narrow(value), record.highestSerial);
    if (ReadMachineValue(kPublishers, value)) record.publishers = ReadPublishersText(osh::Narrow(value));
    return record;
}

bool RecordAcceptedDocument(const DocumentClaims& claims, const AcceptedRecord& before)
{
    if (osh::QueryElevation() != 0) return false;
    try {
        if (!before.seenBefore || claims.serial > before.highestSerial)
            osh::SetPersistentValue(kGroup, kSerial, std::to_wstring(claims.serial));
        if (claims.announcesNext && !Known(before.publishers, claims.next)) {
            std::vector<AnnouncedPublisher> publishers = before.publishers;
            publishers.push_back(claims.next);
            osh::SetPersistentValue(kGroup, kPublishers, osh::Widen(PublishersText(publishers)));
        }
        return true;
    } catch (const std::exception& error) {
        osh::LogWarning(std::string("Could not record the accepted update document: ") + error.what());
        return false;
    }
}

}  // namespace ziz
