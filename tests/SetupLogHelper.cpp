// Child program of the setup-log tests: sets up the log as the product does, writes
// numbered lines from one or more threads and returns from main at once, so the test can
// see what reached the file by the time the process was gone.
//
//   SetupLogHelper <lines per thread> <threads> <tag>
//
// Lines read "<tag> thread <t> line <n>". Exit code 0, or 2 when the log was not set up.
#include "app/SetupLog.h"
#include "osh/Log.h"

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 4) return 1;
    const int lines = std::atoi(argv[1]);
    const int threads = std::atoi(argv[2]);
    const std::string tag = argv[3];

    app::SetUpLog();
    if (app::SharedLogger() == nullptr) return 2;
    osh::SetLogger(app::SharedLogger());

    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([=] {
            for (int n = 0; n < lines; ++n) {
                osh::LogInformation(tag + " thread " + std::to_string(t) + " line " + std::to_string(n));
            }
        });
    }
    for (auto& writer : writers) writer.join();
    return 0;
}
