#include "sequence/CommandTemplate.h"

std::wstring ReplaceQuoted(const std::wstring& text, const std::wstring& placeholder, const std::wstring& value)
{
    if (placeholder.empty()) return text;
    const std::wstring quoted = L"\"" + value + L"\"";
    std::wstring result;
    std::size_t start = 0;
    for (std::size_t found = text.find(placeholder); found != std::wstring::npos;
         found = text.find(placeholder, start)) {
        result.append(text, start, found - start);
        result += quoted;
        start = found + placeholder.size();
    }
    result.append(text, start, std::wstring::npos);
    return result;
}

std::wstring ExpandCommand(bool is64BitOs, const std::wstring& logFile, const std::wstring& commandTemplate,
                           const std::wstring& componentFile, const std::wstring& installDir32,
                           const std::wstring& installDir64, const std::wstring& tempDir)
{
    std::wstring command = ReplaceQuoted(commandTemplate, L"[APP]", componentFile);
    command = ReplaceQuoted(command, L"[LOG]", logFile);
    command = ReplaceQuoted(command, L"[INSTALLDIR32]", installDir32);
    // A 32-bit system has no 64-bit directory; the placeholder stays as written.
    if (is64BitOs) command = ReplaceQuoted(command, L"[INSTALLDIR64]", installDir64);
    return ReplaceQuoted(command, L"[TEMPDIR]", tempDir);
}
