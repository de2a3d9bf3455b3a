#include "engine/trust/AnnouncedPublishers.h"

#include "engine/trust/AcceptedDocuments.h"
#include "sequence/Blob.h"

#include <exception>
#include <mutex>

namespace ziz {

namespace {

const unsigned int kEmbeddedSequence = 300;

std::mutex& Guard()
{
    static std::mutex guard;
    return guard;
}

std::vector<AnnouncedPublisher> Load()
{
    std::vector<AnnouncedPublisher> publishers = ReadAcceptedRecord().publishers;
    try {
        Blob embedded;
        ReadResourceBlob(kEmbeddedSequence, embedded);
        AnnouncedPublisher next;
        if (ReadAnnouncement(embedded, next)) publishers.push_back(next);
    } catch (const std::exception&) {
        // A program without its sequence announces nobody.
    }
    return publishers;
}

std::vector<AnnouncedPublisher>& Known()
{
    static std::vector<AnnouncedPublisher> publishers = Load();
    return publishers;
}

}  // namespace

std::vector<AnnouncedPublisher> AnnouncedPublishers()
{
    std::lock_guard<std::mutex> lock(Guard());
    return Known();
}

void AddAnnouncedPublisher(const AnnouncedPublisher& publisher)
{
    std::lock_guard<std::mutex> lock(Guard());
    Known().push_back(publisher);
}

}  // namespace ziz
