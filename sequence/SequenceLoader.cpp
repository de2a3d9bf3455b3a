#include "sequence/SequenceLoader.h"

#include "sequence/ItemIntegrity.h"
#include "sequence/NestingDepth.h"

#include "osh/Log.h"
#include "osh/Text.h"

#include <rapidxml.hpp>

#include <algorithm>
#include <cwctype>
#include <exception>
#include <iterator>
#include <memory>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using XmlNode = rapidxml::xml_node<char>;

constexpr bool kAnyCase = false;
// Real documents nest four levels (Installer, sequence, Item, value).
constexpr std::size_t kMaxNesting = 64;

std::wstring Text(const char* text, std::size_t size) { return osh::Widen(std::string(text, size)); }

InstallItem ReadItem(const XmlNode& element)
{
    InstallItem item;
    for (auto* attribute = element.first_attribute(); attribute != nullptr; attribute = attribute->next_attribute())
        item.SetProperty(Text(attribute->name(), attribute->name_size()),
                         Text(attribute->value(), attribute->value_size()));
    for (auto* child = element.first_node(); child != nullptr; child = child->next_sibling()) {
        if (child->type() != rapidxml::node_element) continue;
        item.SetProperty(TrimWhitespace(Text(child->name(), child->name_size())),
                         TrimWhitespace(Text(child->value(), child->value_size())));
    }
    return item;
}

// Each item's place is read once and the items are sorted stably, so equal places keep
// document order. (Re-reading the places of all earlier items at every insertion made a
// document of a few thousand items take minutes.)
void SortByOrder(std::vector<InstallItem>& items, InstallSequence& sequence)
{
    std::vector<std::pair<unsigned int, std::size_t>> places;
    places.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) places.emplace_back(ItemOrder(items[i]), i);
    std::stable_sort(places.begin(), places.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& place : places) sequence.push_back(std::move(items[place.second]));
}

// An item whose size or digest is malformed stays in the list so that the run fails at
// its verification instead of silently installing less; the reason is logged here.
void ReportIntegrityDefects(const std::vector<InstallItem>& items)
{
    for (const InstallItem& item : items) {
        const std::string defect = ItemIntegrityDefect(item);
        if (!defect.empty()) osh::LogError(defect);
    }
}

bool ReadSequence(char* text, const std::wstring& name, InstallSequence& sequence)
{
    // The document object carries a 64 KiB pool; keep it off the worker's stack.
    auto document = std::make_unique<rapidxml::xml_document<char>>();
    document->parse<rapidxml::parse_default>(text);

    const XmlNode* root = document->first_node("Installer", 0, kAnyCase);
    if (root == nullptr) {
        osh::LogError("XML: Could not detect node Installer");
        return false;
    }
    const std::string narrowName = osh::Narrow(name);
    const XmlNode* list = root->first_node(narrowName.c_str(), narrowName.size(), kAnyCase);
    if (list == nullptr) {
        osh::LogError("XML: Could not detect node " + narrowName);
        return false;
    }
    std::vector<InstallItem> items;
    for (const XmlNode* element = list->first_node("Item", 0, kAnyCase); element != nullptr;
         element = element->next_sibling("Item", 0, kAnyCase))
        items.push_back(ReadItem(*element));
    ReportIntegrityDefects(items);
    SortByOrder(items, sequence);
    return true;
}

bool LoadSingleItem(Blob& blob, const wchar_t* name, InstallItem& item)
{
    InstallSequence sequence;
    const std::string narrowName = osh::Narrow(name);
    if (!LoadSequence(blob, name, sequence)) {
        osh::LogError("Unable to load sequence " + narrowName + " from Blob");
        return false;
    }
    if (sequence.size() != 1) {
        osh::LogError("Sequence " + narrowName + " has wrong item count (" + std::to_string(sequence.size()) +
                      ") is not one)");
        return false;
    }
    item = sequence.front();
    return true;
}

}  // namespace

std::wstring TrimWhitespace(const std::wstring& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && std::iswspace(text[first])) ++first;
    while (last > first && std::iswspace(text[last - 1])) --last;
    return text.substr(first, last - first);
}

unsigned int ItemOrder(const InstallItem& item)
{
    std::wstring text;
    if (!item.GetProperty(L"Order", text)) return 0;
    // Read as stream extraction reads a number, without a stream (one brings the whole C++
    // locale into the program): leading blanks and a '+' skipped, digits up to the first
    // other character. A negative number or one beyond the largest place is no place at all.
    std::size_t next = 0;
    while (next < text.size() && std::iswspace(text[next])) ++next;
    if (next < text.size() && text[next] == L'+') ++next;
    const std::size_t first = next;
    unsigned long long place = 0;
    for (; next < text.size() && text[next] >= L'0' && text[next] <= L'9'; ++next) {
        place = place * 10 + static_cast<unsigned>(text[next] - L'0');
        if (place > std::numeric_limits<unsigned int>::max()) return 0;
    }
    return next == first ? 0 : static_cast<unsigned int>(place);
}

bool LoadSequence(Blob& blob, const std::wstring& name, InstallSequence& sequence)
{
    if (!blob.empty() && blob.back() != '\0') blob.push_back('\0');
    sequence.clear();

    // The parser writes terminators into the text it parses, so it gets its own copy.
    std::vector<char> scratch(blob);
    if (scratch.empty()) scratch.push_back('\0');
    if (XmlNestingDepth(scratch.data(), kMaxNesting) > kMaxNesting) {
        osh::LogError("XML: Document nested deeper than " + std::to_string(kMaxNesting) + " levels");
        return false;
    }
    try {
        return ReadSequence(scratch.data(), name, sequence);
    } catch (const rapidxml::parse_error& error) {
        sequence.clear();
        osh::LogError(std::string("XML: Parse Error - ") + error.what() + " at " + error.where<char>());
        return false;
    }
}

void LoadX86Sequence(Blob& blob, InstallSequence& sequence)
{
    sequence.clear();
    if (!LoadSequence(blob, L"x86", sequence)) throw std::runtime_error("Unable to load sequence 32-bit from Blob");
}

void LoadX64Sequence(Blob& blob, InstallSequence& sequence)
{
    sequence.clear();
    if (!LoadSequence(blob, L"x64", sequence)) throw std::runtime_error("Unable to load sequence 64-bit from Blob");
}

bool LoadPlatformSequence(Blob& blob, InstallSequence& sequence, bool is64BitOs)
{
    sequence.clear();
    try {
        if (is64BitOs)
            LoadX64Sequence(blob, sequence);
        else
            LoadX86Sequence(blob, sequence);
    } catch (const std::exception& error) {
        osh::LogError(error.what());
    }
    return !sequence.empty();
}

bool LoadBootstrapperItem(Blob& blob, InstallItem& item) { return LoadSingleItem(blob, L"bootstrapper", item); }

bool LoadApplianceItem(Blob& blob, InstallItem& item) { return LoadSingleItem(blob, L"appliance", item); }

bool LoadCompleteSequence(Blob& blob, InstallSequence& sequence)
{
    InstallSequence x64;
    LoadX86Sequence(blob, sequence);
    LoadX64Sequence(blob, x64);
    sequence.insert(sequence.end(), x64.begin(), x64.end());
    InstallItem appliance;
    if (!LoadApplianceItem(blob, appliance)) return false;
    sequence.push_back(appliance);
    return true;
}
