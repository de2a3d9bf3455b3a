#include "engine/SelfSignature.h"

#include "engine/PublisherTrust.h"
#include "osh/Log.h"

#include <exception>

namespace ziz {

bool SelfSignatureStatus(const std::function<bool()>& check)
{
    try {
        return check();
    } catch (const std::exception& error) {
        // Turning the checks off because a question could not be answered would let an
        // unsigned file through a signed program: they stay on.
        osh::LogWarning("Could not determine self-signature status; signature checks stay on");
        osh::LogWarning(error.what());
        return true;
    }
}

bool EvaluateSelfSignature()
{
    return SelfSignatureStatus([] { return RequiresSignatures(PublisherTrust::OfRunningProgram().Own()); });
}

}  // namespace ziz
