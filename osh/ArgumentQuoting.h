#pragma once
// Building command lines that the started program reads back, through the standard
// parser (CommandLineToArgvW, the C run-time), exactly as the arguments were given.
// Free of Windows headers.
#include <string>
#include <vector>

namespace osh {

// The argument as one command-line token: unchanged when it has no blank, tab, line
// break or double quote and is not empty; otherwise enclosed in double quotes, with every
// embedded quote escaped and the backslashes before a quote (or before the closing
// quote) doubled.
std::wstring QuoteArgument(const std::wstring& argument);

// The program path as the first token: always in double quotes. A path holds no quote,
// and the first token is read up to the next quote without escapes.
std::wstring QuoteProgramPath(const std::wstring& program);

// The arguments as tokens separated by single blanks.
std::wstring JoinArguments(const std::vector<std::wstring>& arguments);

}  // namespace osh
