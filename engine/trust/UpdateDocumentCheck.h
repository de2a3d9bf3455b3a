#pragma once
// Fetches the signature published beside the update document ("<address>.p7s"), judges
// the document by the rule of engine/trust/UpdateDocumentTrust.h and records what an
// accepted one tells the machine. A refused document is not used at all: the caller carries
// on as if there were none.
#include "sequence/Blob.h"

#include <string>

namespace ziz {

class RunReport;

// True when the document may be used. Logs one line either way (a refusal at error); a
// refusal also goes into failure and into the run's report.
bool CheckUpdateDocument(const std::wstring& url, const std::wstring& file, const Blob& document,
                         RunReport& report, std::string& failure);

}  // namespace ziz
