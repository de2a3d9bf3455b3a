#pragma once
// The publishers that count as this program's own besides its signer: those the machine's
// accepted documents announced, the one the running program's embedded sequence announces,
// and the one the update document accepted in this run announces. A bootstrapper or a
// document they signed is accepted like one of the own publisher's.
#include "engine/trust/DocumentClaims.h"

#include <vector>

namespace ziz {

// Read on first use (the machine's record and the embedded sequence), then kept for the
// process. Never throws.
std::vector<AnnouncedPublisher> AnnouncedPublishers();

// Adds the announcement of a document accepted in this run.
void AddAnnouncedPublisher(const AnnouncedPublisher& publisher);

}  // namespace ziz
