#include "osh/Exception.h"

#include "osh/Text.h"

#include <utility>

namespace win {

exception::exception(DWORD error, const std::string& context)
    : std::runtime_error(Compose(error, context, "Unknown DWORD error")), code_(error), isWin32Error_(1),
      context_(context)
{
}

exception::exception(HRESULT result, const std::string& context)
    : std::runtime_error(Compose(static_cast<DWORD>(result), context, "Unknown HRESULT error")),
      code_(static_cast<DWORD>(result)), isWin32Error_(0), context_(context)
{
}

exception::~exception() = default;

std::string exception::Compose(DWORD code, const std::string& context, const char* fallback)
{
    // The wide text, made UTF-8 like every other text of the log: the narrow one would be in
    // the system's ANSI code page.
    LPWSTR buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_SYSTEM,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (buffer == nullptr || length == 0) {
        if (buffer) LocalFree(buffer);
        return fallback;
    }
    // The system text keeps its trailing line break: callers log it as it comes.
    const std::string text = osh::ToUtf8(std::wstring(buffer, length));
    LocalFree(buffer);
    return context.empty() ? text : context + ": " + text;
}

}  // namespace win

