#pragma once
// Whether the engine demands signed component files: unless its own executable carries no
// signature at all (a signature that does not verify keeps the checks on). Evaluated once,
// when the engine object is created.
#include <functional>

namespace ziz {

// Judges the running program's own file, held since start-up.
bool EvaluateSelfSignature();

// Runs check; a standard exception is logged as a warning ("Could not determine
// self-signature status; signature checks stay on", then its text) and counts as
// "signed", so that the checks of other files stay on.
bool SelfSignatureStatus(const std::function<bool()>& check);

}  // namespace ziz
