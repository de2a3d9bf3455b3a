#pragma once
// The helper library's exceptions. Both compose their whole message in the constructor,
// so callers only ever need what().
#include <windows.h>

#include "osh/ErrnoException.h"

#include <stdexcept>
#include <string>

namespace win {

class exception : public std::runtime_error {
public:
    // Win32-error flavour (a GetLastError code or a registry status).
    exception(DWORD error, const std::string& context);
    // HRESULT flavour.
    exception(HRESULT result, const std::string& context);
    exception(const exception&) = default;
    exception& operator=(const exception&) = default;
    ~exception() override;

    DWORD code() const { return code_; }
    bool isWin32Error() const { return isWin32Error_ != 0; }
    const std::string& context() const { return context_; }

private:
    static std::string Compose(DWORD code, const std::string& context, const char* fallback);

    DWORD code_;
    int isWin32Error_;
    std::string context_;
};

}  // namespace win

