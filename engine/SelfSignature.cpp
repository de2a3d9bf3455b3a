#include "engine/SelfSignature.h"

#include "osh/Log.h"
#include "osh/Signature.h"
#include "osh/SystemInfo.h"

#include <exception>

namespace ziz {

bool SelfSignatureStatus(const std::function<bool()>& check)
{
    try {
        return check();
    } catch (const std::exception& error) {
        osh::LogWarning("Could not determine self-signature status");
        osh::LogWarning(error.what());
        return false;
    }
}

bool EvaluateSelfSignature()
{
    return SelfSignatureStatus([] { return osh::CheckFileSignature(osh::ModuleFileName(nullptr)); });
}

}  // namespace ziz
