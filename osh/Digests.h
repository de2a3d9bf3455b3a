#pragma once
// MD5 and SHA-256 of one stream of bytes, both from a single pass. Free of Windows headers.
#include <Poco/MD5Engine.h>
#include <Poco/SHA2Engine.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace osh {

// Digests as lower-case hexadecimal text, and how many bytes they cover.
struct FileDigests {
    std::wstring Md5;
    std::wstring Sha256;
    std::uint64_t Bytes = 0;
};

// Feed the content in pieces of any size, then take the digests once.
class DigestPair {
public:
    void Update(const void* data, std::size_t size);
    FileDigests Finish();

private:
    Poco::MD5Engine md5_;
    Poco::SHA2Engine sha256_{Poco::SHA2Engine::SHA_256};
    std::uint64_t bytes_ = 0;
};

}  // namespace osh
