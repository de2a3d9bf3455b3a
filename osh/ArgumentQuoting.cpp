#include "osh/ArgumentQuoting.h"

namespace osh {

namespace {

bool NeedsQuotes(const std::wstring& argument)
{
    return argument.empty() || argument.find_first_of(L" \t\n\v\"") != std::wstring::npos;
}

}  // namespace

std::wstring QuoteArgument(const std::wstring& argument)
{
    if (!NeedsQuotes(argument)) return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            // Backslashes before a quote are halved by the parser, and the quote needs its own.
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    // Trailing backslashes stand before the closing quote: doubled, or they would escape it.
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::wstring QuoteProgramPath(const std::wstring& program) { return L"\"" + program + L"\""; }

std::wstring JoinArguments(const std::vector<std::wstring>& arguments)
{
    std::wstring joined;
    for (size_t index = 0; index < arguments.size(); ++index) {
        if (index > 0) joined += L" ";
        joined += QuoteArgument(arguments[index]);
    }
    return joined;
}

}  // namespace osh
