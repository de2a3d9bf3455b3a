#include "engine/VersionCompare.h"

#include <cstdint>
#include <vector>

namespace ziz {

namespace {

std::vector<std::wstring> SplitAtDots(const std::wstring& text)
{
    std::vector<std::wstring> parts;
    std::wstring::size_type start = 0;
    for (;;) {
        const std::wstring::size_type dot = text.find(L'.', start);
        parts.push_back(text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start));
        if (dot == std::wstring::npos) return parts;
        start = dot + 1;
    }
}

// Whole-part check: "10a", "", "-1" and "+1" are not version numbers.
bool ParseNumber(const std::wstring& part, std::uint64_t& number)
{
    if (part.empty() || part.size() > 18) return false;
    number = 0;
    for (wchar_t c : part) {
        if (c < L'0' || c > L'9') return false;
        number = number * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    return true;
}

}  // namespace

bool IsVersionText(const std::wstring& text)
{
    std::uint64_t number = 0;
    for (const std::wstring& part : SplitAtDots(text))
        if (!ParseNumber(part, number)) return false;
    return true;
}

bool IsNewerVersion(const std::wstring& candidate, const std::wstring& best)
{
    std::vector<std::uint64_t> candidateNumbers;
    for (const std::wstring& part : SplitAtDots(candidate)) {
        std::uint64_t number = 0;
        if (!ParseNumber(part, number)) return false;
        candidateNumbers.push_back(number);
    }
    const std::vector<std::wstring> bestParts = SplitAtDots(best);
    for (std::size_t i = 0; i < candidateNumbers.size() && i < bestParts.size(); ++i) {
        std::uint64_t bestNumber = 0;
        if (!ParseNumber(bestParts[i], bestNumber)) return false;
        if (candidateNumbers[i] != bestNumber) return candidateNumbers[i] > bestNumber;
    }
    return false;
}

}  // namespace ziz
