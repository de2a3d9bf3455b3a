#include "app/RunSummary.h"

#include <mutex>

namespace app {

namespace {

std::mutex g_lock;
EngineSummary g_summary;
std::string g_firstError;

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
    if (g_firstError.empty()) g_firstError = text;
}

std::string FirstLoggedError()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_firstError;
}

void ResetRunSummary()
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_summary = EngineSummary();
    g_firstError.clear();
}

std::string FailureReasonOf(const EngineSummary& summary, const std::string& firstError)
{
    if (!summary.report.FailureReason().empty()) return summary.report.FailureReason();
    if (!firstError.empty()) return firstError;
    return "No cause was recorded";
}

}  // namespace app
