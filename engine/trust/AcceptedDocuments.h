#pragma once
// What this machine remembers of the update documents it accepted, in the key store's
// machine hive (group "UpdateDocument"): the highest serial ("HighestSerial") and the
// publishers announced as next ("Publishers", "subject-hex/issuer-key-sha256" pairs
// separated by ";"). Only an elevated run writes them, so a standard user can neither
// lower the serial nor add a publisher; every run, elevated or not, reads the machine's.
#include "engine/trust/DocumentClaims.h"

#include <string>
#include <vector>

namespace ziz {

struct AcceptedRecord {
    bool seenBefore = false;
    unsigned long long highestSerial = 0;
    std::vector<AnnouncedPublisher> publishers;
};

// Never throws; a missing or unreadable value counts as none.
AcceptedRecord ReadAcceptedRecord();

// Records an accepted document's serial (when higher) and announcement. Only an elevated
// run writes; others return false without writing. Failures are logged.
bool RecordAcceptedDocument(const DocumentClaims& claims, const AcceptedRecord& before);

// The "Publishers" value's text and back; malformed pairs are skipped.
std::string PublishersText(const std::vector<AnnouncedPublisher>& publishers);
std::vector<AnnouncedPublisher> ReadPublishersText(const std::string& text);

}  // namespace ziz
