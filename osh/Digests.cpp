#include "osh/Digests.h"

#include "osh/Text.h"

namespace osh {

void DigestPair::Update(const void* data, std::size_t size)
{
    md5_.update(data, size);
    sha256_.update(data, size);
    bytes_ += size;
}

FileDigests DigestPair::Finish()
{
    FileDigests digests;
    digests.Md5 = Widen(Poco::DigestEngine::digestToHex(md5_.digest()));
    digests.Sha256 = Widen(Poco::DigestEngine::digestToHex(sha256_.digest()));
    digests.Bytes = bytes_;
    return digests;
}

}  // namespace osh
