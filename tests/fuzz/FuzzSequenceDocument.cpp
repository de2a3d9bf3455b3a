// libFuzzer target: any bytes as an install sequence document, asked for each of the four
// sequences, the platform choice both ways, and the single bootstrapper and appliance items.
// Besides the sanitizers it checks the loader's own promises: a failed load leaves the
// sequence empty, a loaded one is in ascending Order, the blob gains at most its terminator.
#include "sequence/Blob.h"
#include "sequence/NestingDepth.h"
#include "sequence/SequenceLoader.h"

#include "osh/Log.h"

#include <Poco/AutoPtr.h>
#include <Poco/Logger.h>
#include <Poco/NullChannel.h>

#include <rapidxml.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>
#include <stdexcept>
#include <string>

namespace {

void Require(bool condition, const char* what)
{
    if (condition) return;
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

// Failure lines are built from the document (the parser's position and rest of text), so
// they are written to a logger that sends them nowhere rather than skipped.
void InstallNullLog()
{
    static Poco::Logger& logger = Poco::Logger::get("fuzz");
    static bool ready = false;
    if (ready) return;
    logger.setChannel(Poco::AutoPtr<Poco::Channel>(new Poco::NullChannel));
    logger.setLevel(Poco::Message::PRIO_TRACE);
    osh::SetLogger(&logger);
    ready = true;
}

bool IsSorted(const InstallSequence& sequence)
{
    unsigned int previous = 0;
    for (const InstallItem& item : sequence) {
        const unsigned int place = ItemOrder(item);
        if (place < previous) return false;
        previous = place;
    }
    return true;
}

void LoadNamed(const Blob& document, const wchar_t* name)
{
    Blob blob = document;
    InstallSequence sequence(1);
    const bool loaded = LoadSequence(blob, name, sequence);
    Require(loaded || sequence.empty(), "a failed load leaves the sequence empty");
    Require(IsSorted(sequence), "items in ascending Order");
    const bool terminated = document.empty() || document.back() == '\0';
    Require(blob.size() == document.size() + (terminated ? 0 : 1), "one terminator appended at most");
    Require(blob.empty() || blob.back() == '\0', "the blob ends in a terminator");
    const std::size_t size = blob.size();
    InstallSequence again;
    Require(LoadSequence(blob, name, again) == loaded, "a second load answers the same");
    Require(blob.size() == size, "a second load appends nothing");
    Require(again.size() == sequence.size(), "a second load finds the same items");
}

void LoadPlatform(const Blob& document, bool is64BitOs)
{
    Blob blob = document;
    InstallSequence sequence(2);
    const bool loaded = LoadPlatformSequence(blob, sequence, is64BitOs);
    Require(loaded == !sequence.empty(), "the platform answer is whether items were found");
    try {
        if (is64BitOs)
            LoadX64Sequence(blob, sequence);
        else
            LoadX86Sequence(blob, sequence);
    } catch (const std::runtime_error& error) {
        const std::string text = error.what();
        Require(text == "Unable to load sequence 64-bit from Blob" || text == "Unable to load sequence 32-bit from Blob",
                "only the documented failure text");
        Require(sequence.empty(), "a failed platform load leaves the sequence empty");
    }
}

void LoadSingle(const Blob& document)
{
    Blob blob = document;
    InstallItem item;
    item.Filename = L"untouched";
    if (!LoadBootstrapperItem(blob, item)) Require(item.Filename == L"untouched", "a refused item leaves the output");
    InstallItem appliance;
    appliance.Filename = L"untouched";
    if (!LoadApplianceItem(blob, appliance))
        Require(appliance.Filename == L"untouched", "a refused item leaves the output");
}

// The loader refuses deep documents on the word of XmlNestingDepth, so the scan must agree
// with the tree the parser builds whenever the parser accepts the text: the scan counts
// elements with content, the tree also its self-closed leaves (one level more at most).
void CheckNestingScan(const Blob& document)
{
    std::vector<char> text(document);
    text.push_back('\0');
    const std::size_t scanned = XmlNestingDepth(text.data(), text.size());
    auto parsed = std::make_unique<rapidxml::xml_document<char>>();
    try {
        parsed->parse<rapidxml::parse_default>(text.data());
    } catch (const rapidxml::parse_error&) {
        return;
    }
    std::size_t deepest = 0;
    std::vector<std::pair<const rapidxml::xml_node<char>*, std::size_t>> open{{parsed.get(), 0}};
    while (!open.empty()) {
        const auto [node, depth] = open.back();
        open.pop_back();
        if (depth > deepest) deepest = depth;
        for (auto* child = node->first_node(); child != nullptr; child = child->next_sibling())
            if (child->type() == rapidxml::node_element) open.emplace_back(child, depth + 1);
    }
    Require(scanned <= deepest && deepest <= scanned + 1, "the nesting scan agrees with the parser");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    InstallNullLog();
    const Blob document(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    for (const wchar_t* name : {L"bootstrapper", L"appliance", L"x64", L"x86"}) LoadNamed(document, name);
    LoadPlatform(document, true);
    LoadPlatform(document, false);
    LoadSingle(document);
    CheckNestingScan(document);
    return 0;
}
