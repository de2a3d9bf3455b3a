#include "engine/trust/DocumentClaims.h"

#include <rapidxml.hpp>

#include <cctype>
#include <cstdio>
#include <memory>

namespace ziz {

namespace {

using XmlNode = rapidxml::xml_node<char>;

// The root's attributes by name, read from a private copy (RapidXML parses in place).
class RootAttributes {
public:
    explicit RootAttributes(const std::vector<char>& document) : text_(document)
    {
        text_.push_back('\0');
        try {
            document_->parse<rapidxml::parse_non_destructive>(text_.data());
            root_ = document_->first_node("Installer", 0, false);
        } catch (const std::exception&) {
            root_ = nullptr;
        }
    }
    bool Get(const char* name, std::string& value) const
    {
        const auto* attribute = root_ ? root_->first_attribute(name, 0, false) : nullptr;
        if (attribute == nullptr) return false;
        value.assign(attribute->value(), attribute->value_size());
        return true;
    }

private:
    std::vector<char> text_;
    std::unique_ptr<rapidxml::xml_document<char>> document_ = std::make_unique<rapidxml::xml_document<char>>();
    const XmlNode* root_ = nullptr;
};

bool Digits(const std::string& text, std::size_t from, std::size_t count, int& value)
{
    value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(int year, int month, int day)
{
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool ReadSerial(const std::string& text, unsigned long long& serial)
{
    if (text.empty() || text.size() > 18 || (text.size() > 1 && text[0] == '0')) return false;
    serial = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        serial = serial * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

bool IsLowerHex(const std::string& text, std::size_t length)
{
    if (text.size() != length) return false;
    for (const char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'a' || c > 'f')) return false;
    return true;
}

// 0: none announced, 1: announced, -1: malformed.
int ReadNext(const RootAttributes& root, AnnouncedPublisher& next)
{
    std::string subject, key;
    const bool hasSubject = root.Get("nextPublisherSubject", subject);
    const bool hasKey = root.Get("nextPublisherIssuerKey", key);
    if (!hasSubject && !hasKey) return 0;
    if (!hasSubject || !hasKey || !HexToBytes(subject, next.subject) || next.subject.empty() || !IsLowerHex(key, 64))
        return -1;
    next.issuerKeySha256 = key;
    return 1;
}

}  // namespace

bool HexToBytes(const std::string& text, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    if (text.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        for (std::size_t j = i; j < i + 2; ++j) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[j])));
            if (std::isdigit(static_cast<unsigned char>(c))) value = value * 16 + static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') value = value * 16 + static_cast<unsigned>(c - 'a' + 10);
            else return false;
        }
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

bool ParseUtcTime(const std::string& text, long long& seconds)
{
    int year, month, day, hour, minute, second;
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return false;
    if (!Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day) ||
        !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) || !Digits(text, 17, 2, second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
    seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

std::string UtcDate(long long seconds)
{
    // The inverse of DaysFromCivil.
    const long long z = (seconds >= 0 ? seconds : seconds - 86399) / 86400 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long dayOfEra = z - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2);
    char text[16];
    std::snprintf(text, sizeof(text), "%04lld-%02lld-%02lld", year, month, day);
    return text;
}

bool ReadDocumentClaims(const std::vector<char>& document, DocumentClaims& claims, std::string& problem)
{
    const RootAttributes root(document);
    std::string serial, expires;
    if (!root.Get("serial", serial) || !ReadSerial(serial, claims.serial)) {
        problem = "no readable serial";
        return false;
    }
    if (!root.Get("product", claims.product) || claims.product.empty()) {
        problem = "no product";
        return false;
    }
    if (!root.Get("expires", expires) || !ParseUtcTime(expires, claims.expires)) {
        problem = "no readable expiry";
        return false;
    }
    const int next = ReadNext(root, claims.next);
    if (next < 0) {
        problem = "a malformed next publisher";
        return false;
    }
    claims.announcesNext = next > 0;
    return true;
}

bool ReadAnnouncement(const std::vector<char>& document, AnnouncedPublisher& next)
{
    return ReadNext(RootAttributes(document), next) > 0;
}

}  // namespace ziz
