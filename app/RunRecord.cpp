#include "app/RunRecord.h"

#include "app/HandBackText.h"
#include "app/SetupLog.h"
#include "engine/ElevatedWorkFolder.h"
#include "engine/HandBack.h"
#include "osh/Log.h"
#include "osh/Text.h"

namespace app {

void AddOwnLogFiles(RunFacts& facts)
{
    const std::wstring log = SetupLogFile();
    if (!log.empty()) facts.logFiles.push_back(osh::ToUtf8(log));
    const std::wstring fallback = LogFallbackFile();
    if (!fallback.empty()) {
        osh::LogWarning(L"Lines of this run are also in " + fallback);
        facts.logFiles.push_back(osh::ToUtf8(fallback));
    }
    facts.logLinesLost += DroppedLogLines();
}

void TakeHandBack(const std::wstring& file, RunFacts& facts)
{
    std::string text;
    RunFacts handedBack;
    if (file.empty() || !ziz::TakeHandBackFile(file, text) || !ReadHandBackText(text, handedBack)) {
        osh::LogWarning(L"The started bootstrapper handed back no result (" + file + L")");
        return;
    }
    const size_t own = facts.logFiles.size();
    TakeInHandedBack(handedBack, facts);
    for (size_t i = own; i < facts.logFiles.size(); ++i)
        osh::LogWarning("Lines of this run are also in " + facts.logFiles[i]);
}

void HandBackFacts(const std::wstring& id, const RunFacts& facts)
{
    const std::wstring file = ziz::HandBackFile(id, ziz::IsElevatedRun());
    if (!file.empty() && ziz::WriteHandBackFile(file, HandBackText(facts))) osh::LogInformation(L"Result handed back in " + file);
}

}  // namespace app
