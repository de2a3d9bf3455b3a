#include "engine/GateSettings.h"

#include "config/LayeredConfiguration.h"
#include "engine/policy/PolicyKey.h"
#include "osh/Log.h"
#include "osh/Text.h"

#include <exception>

namespace ziz {

namespace {

constexpr ULONGLONG kLongestWaitSeconds = 86400;
constexpr ULONGLONG kSetupWaitSeconds = 600;
constexpr ULONGLONG kJobWaitSeconds = 3600;

}  // namespace

ULONGLONG WaitBoundMs(const std::string& text, ULONGLONG fallbackSeconds)
{
    if (text.empty() || text.size() > 6) return fallbackSeconds * 1000;
    ULONGLONG seconds = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return fallbackSeconds * 1000;
        seconds = seconds * 10 + static_cast<ULONGLONG>(c - '0');
    }
    return seconds > kLongestWaitSeconds ? fallbackSeconds * 1000 : seconds * 1000;
}

GateSettings ReadGateSettings()
{
    GateSettings settings;
    try {
        const Norlo::Config::LayeredConfiguration configuration;
        settings.setupWaitMs =
            WaitBoundMs(configuration.getString("setup.lock.wait.seconds", ""), kSetupWaitSeconds);
        settings.jobWaitMs = WaitBoundMs(configuration.getString("setup.job.wait.seconds", ""), kJobWaitSeconds);
        settings.jobObjectName = osh::FromUtf8(configuration.getString("product.job.object.name", ""));
    } catch (const std::exception& error) {
        osh::LogWarning(std::string("Vendor settings not read, defaults used: ") + error.what());
        settings = GateSettings();
    }
    // An administrator's policy is stronger than the vendor file.
    settings.setupWaitMs = ChooseWaitMs(RunPolicies().busyWaitMinutes, settings.setupWaitMs);
    settings.jobWaitMs = ChooseWaitMs(RunPolicies().jobWaitMinutes, settings.jobWaitMs);
    return settings;
}

}  // namespace ziz
