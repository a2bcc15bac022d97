// Logging from several threads while other threads reconfigure targets.
#include "sdk/diagnostics/logger.h"

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sdk/diagnostics/log.h"
#include "sdk/diagnostics/log_line.h"
#include "tests/support/recording_log_target.h"

namespace Korvo {
namespace {

constexpr int kLoggingThreads = 4;
constexpr int kMessagesPerThread = 400;

// Splits text into lines without their line feeds.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

bool IsMessage(const std::string& text) { return text.rfind("thread ", 0) == 0 && text.find(" message ") != std::string::npos; }

TEST(LoggerConcurrencyTest, TargetsReconfiguredWhileThreadsLog) {
    AcquireLogger();
    Logger* logger = CurrentLogger();
    ASSERT_NE(logger, nullptr);
    Testing::CapturedStream stdErr;
    logger->StdErrTarget().SetStream(stdErr.File());
    logger->StdErrTarget().Configure({Warn, 0, 0, "#M"});
    logger->DebuggerTarget().Detach();
    {
        Testing::RecordingLogTarget recorder;
        recorder.Configure({Okay, 0, 0, "A|#M"});
        Testing::RecordingLogTarget listed("Listed");

        std::atomic<bool> stop{false};
        std::thread reconfigurer([&] {
            int round = 0;
            while (!stop.load()) {
                const bool even = (round++ % 2) == 0;
                recorder.Configure({Okay, 0, 0, even ? "B|#M" : "A|#M"});
                recorder.SetGroups(even ? 0 : kLogGroupDebug, 0);
                logger->StdErrTarget().Detach();
                logger->StdErrTarget().Attach();
                logger->AttachTarget(listed.Interface());
                logger->FindTarget("Listed");
                logger->DetachTarget(listed.Interface());
                logger->SetSuppressedGroups(even ? kLogGroupExtra : kLogGroupExtra | 0x100);
                std::this_thread::yield();
            }
        });
        std::thread groups([&] {
            char buffer[256];
            for (int i = 0; i < 50; ++i) {
                RegisterGroup(nullptr, ("C" + std::to_string(i % 20)).c_str());
                FormatGroups(buffer, sizeof buffer, ~LogGroups{0});
            }
        });
        std::vector<std::thread> loggers;
        for (int t = 0; t < kLoggingThreads; ++t) {
            loggers.emplace_back([t] {
                for (int i = 0; i < kMessagesPerThread; ++i) {
                    LogMessage(Error, kLogGroupDebug, "thread %d message %d", t, i);
                    LogMessage(Okay, kLogGroupDebug, "filtered %d", i);
                }
            });
        }
        for (std::thread& thread : loggers) thread.join();
        groups.join();
        stop.store(true);
        reconfigurer.join();

        // The recorder was attached throughout (Configure detaches and
        // attaches under the Logger lock), so it saw every message, each as
        // one whole line in one of its two formats.
        const std::vector<std::string> lines = recorder.Lines();
        EXPECT_EQ(lines.size(), static_cast<size_t>(kLoggingThreads * kMessagesPerThread));
        for (const std::string& line : lines) {
            const bool wellFormed = (line.rfind("A|", 0) == 0 || line.rfind("B|", 0) == 0) && line.back() == '\n' &&
                                    IsMessage(line.substr(2, line.size() - 3));
            EXPECT_TRUE(wellFormed) << line;
        }
        for (const std::string& line : SplitLines(stdErr.Text())) EXPECT_TRUE(IsMessage(line)) << line;
    }
    ReleaseLogger();
}

TEST(LoggerConcurrencyTest, AcquireAndReleaseFromManyThreads) {
    AcquireLogger();  // keeps the Logger alive while the threads come and go
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                AcquireLogger();
                LogMessage(Okay, kLogGroupDebug, "filtered");
                ReleaseLogger();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(LoggerUserCount(), 1u);
    EXPECT_NE(CurrentLogger(), nullptr);
    ReleaseLogger();
    EXPECT_EQ(CurrentLogger(), nullptr);
}

}  // namespace
}  // namespace Korvo
