#pragma once
// What a signed update document says about itself, on its root element:
//   serial="42"                      grows with every publication (decimal, at most 18 digits)
//   product="Norlo 5"                the product it is for
//   expires="2027-03-01T00:00:00Z"   after this (UTC) nobody may believe it
//   nextPublisherSubject="30..."     optional: the next publisher's certificate subject (hex of its DER)
//   nextPublisherIssuerKey="ab..."   with it: SHA-256 (hex) of the public key of that subject's issuer
// Free of Windows headers.
#include <string>
#include <vector>

namespace ziz {

// A publisher the current one named as its successor.
struct AnnouncedPublisher {
    std::vector<unsigned char> subject;  // the subject name as encoded in the certificate
    std::string issuerKeySha256;         // lower-case hexadecimal
};

struct DocumentClaims {
    unsigned long long serial = 0;
    std::string product;
    long long expires = 0;  // seconds since 1970-01-01 UTC
    bool announcesNext = false;
    AnnouncedPublisher next;
};

// Reads the root element's claims; false with the reason ("no readable serial", ...) when
// one is missing or malformed. The bytes are not changed.
bool ReadDocumentClaims(const std::vector<char>& document, DocumentClaims& claims, std::string& problem);

// Only the announcement (an embedded document carries no serial or expiry); false when the
// root announces nobody or the announcement is malformed.
bool ReadAnnouncement(const std::vector<char>& document, AnnouncedPublisher& next);

// "YYYY-MM-DDTHH:MM:SSZ" to seconds since 1970 (UTC); false when malformed.
bool ParseUtcTime(const std::string& text, long long& seconds);

// "YYYY-MM-DD" of a time in seconds since 1970 (UTC).
std::string UtcDate(long long seconds);

// Hexadecimal text to bytes; false for an odd length or a character that is no hex digit.
bool HexToBytes(const std::string& text, std::vector<unsigned char>& bytes);

}  // namespace ziz
