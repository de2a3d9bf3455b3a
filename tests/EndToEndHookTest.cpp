// The hook that runs before every stage, missing in the real executable under Wine: the
// run must go on through every stage with a warning each time, and end as it would
// without the hook.
#include "support/BrokenPlatform.h"
#include "support/EndToEnd.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

// Lines the log gained after offset.
std::vector<std::string> LinesAfter(std::streamoff offset)
{
    std::ifstream in(testenv::Narrow(endtoend::SetupLogPath()), std::ios::binary);
    in.seekg(offset);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::streamoff LogSize()
{
    std::ifstream in(testenv::Narrow(endtoend::SetupLogPath()), std::ios::binary | std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

size_t CountEnding(const std::vector<std::string>& lines, const std::string& text)
{
    size_t count = 0;
    for (const auto& line : lines) {
        if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0) ++count;
    }
    return count;
}

TEST(HookMissing, CheckRunGoesOnWithAWarningBeforeEveryStage)
{
    const std::streamoff before = LogSize();
    DWORD exitCode = 0;
    {
        // Without a temporary directory the hook cannot be written out, and the update
        // document has nowhere to go either: a check then reports "up to date".
        testsupport::UnusableTempDirectory noTemporaryDirectory;
        exitCode = endtoend::RunSetup(L"/silent /check", 120000);
    }
    EXPECT_EQ(1u, exitCode);
    const std::vector<std::string> lines = LinesAfter(before);
    // One warning before each of the two stages of a check run.
    EXPECT_EQ(2u, CountEnding(lines, ":W:Unable to get command script path.")) << lines.size() << " lines";
    EXPECT_EQ(1u, CountEnding(lines, ":E:Could not find temp directory"));
    EXPECT_EQ(0u, CountEnding(lines, ":E:Software process complete, failure detected."));
}

}  // namespace
