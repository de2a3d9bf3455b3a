#pragma once
// Whether the engine demands signed component files: exactly when its own executable
// carries a valid signature. Evaluated once, when the engine object is created.
#include <functional>

namespace ziz {

// Checks the running program's own file.
bool EvaluateSelfSignature();

// Runs check; a standard exception is logged as a warning ("Could not determine
// self-signature status; signature checks stay on", then its text) and counts as
// "signed", so that the checks of other files stay on.
bool SelfSignatureStatus(const std::function<bool()>& check);

}  // namespace ziz
