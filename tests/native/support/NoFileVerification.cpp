// Item file verification opens files, digests them through CryptoAPI and checks
// Authenticode signatures: Windows-only work. The native build links the engine base
// class without it; calling it there is a programming error.
#include "engine/Worker.h"

#include <stdexcept>

namespace ziz {

bool Worker::VerifyItemFile(const InstallItem&, const std::wstring&)
{
    throw std::logic_error("VerifyItemFile needs the Windows build");
}

}  // namespace ziz
