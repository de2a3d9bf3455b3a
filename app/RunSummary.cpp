#include "app/RunSummary.h"

#include <mutex>

namespace app {

namespace {

std::mutex g_lock;
EngineSummary g_summary;
std::string g_lastError;

}  // namespace

void PublishEngineSummary(const EngineSummary& summary)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_summary = summary;
}

EngineSummary ReadEngineSummary()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_summary;
}

void NoteLoggedError(const std::string& text)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_lastError = text;
}

std::string LastLoggedError()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_lastError;
}

void ResetRunSummary()
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_summary = EngineSummary();
    g_lastError.clear();
}

std::string FailureReasonOf(const EngineSummary& summary, const std::string& lastError)
{
    if (!summary.report.FailureReason().empty()) return summary.report.FailureReason();
    if (!lastError.empty()) return lastError;
    return "No cause was recorded";
}

}  // namespace app
