#pragma once
// Exception for failures of run-time library functions that report an errno value.
// Free of Windows headers so the portable logic can use it in a native build too.
#include <stdexcept>
#include <string>

namespace errnoEx {

class exception : public std::runtime_error {
public:
    exception(int errnoValue, const std::string& context);
    ~exception() override;

    int errnoValue() const { return errnoValue_; }

    // The table text of an errno value, or "Unknown errno value N.".
    static std::string Describe(int errnoValue);

private:
    int errnoValue_;
};

}  // namespace errnoEx
