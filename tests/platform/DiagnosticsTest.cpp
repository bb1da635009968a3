// The diagnostics sink: exact texts on standard output, the bounded copy for
// the automation "log" command, and the capture tests read.

#include "platform/Diagnostics.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using fieldmon::diag;
using fieldmon::diagWrite;
using fieldmon::platform::DiagnosticCapture;
using fieldmon::platform::DiagnosticLog;

TEST(Diagnostics, StandardOutputGetsExactlyTheText)
{
    // The only test that looks at file descriptor 1 itself: every other test
    // reads diagnostics through a capture.
    const std::string dump(3000, 'x'); // longer than the formatting buffer
    testing::internal::CaptureStdout();
    diag("Found new client %d!\n", 1207);
    diag("%s", "no line feed");
    diagWrite(" added\n");
    diag("%s|\n", dump.c_str());
    diagWrite("");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Found new client 1207!\nno line feed added\n" + dump + "|\n");
}

TEST(Diagnostics, LogKeepsCompleteLinesOnceAndCaptureTakesTheText)
{
    DiagnosticLog log;
    DiagnosticCapture outer;
    diagWrite("before\n");
    {
        DiagnosticCapture inner;
        diag("Got a %s", "file");
        EXPECT_EQ(log.take().lines, std::vector<std::string>{"before"}) << "a partial line waits";
        diagWrite("\n");
        EXPECT_EQ(inner.take(), "Got a file\n");
        EXPECT_EQ(inner.text(), "");
    }
    diagWrite("after\n");
    EXPECT_EQ(outer.text(), "before\nafter\n") << "the inner capture had the middle, the outer has the rest";
    EXPECT_EQ(log.take().lines, (std::vector<std::string>{"Got a file", "after"}));
    EXPECT_TRUE(log.take().lines.empty()) << "each line once";
}

TEST(Diagnostics, LinesFromSeveralThreadsNeverInterleave)
{
    // The listen thread and the main thread write at the same time; each
    // call must land whole, in the log as on standard output.
    DiagnosticLog log;
    DiagnosticCapture capture;
    constexpr int kThreads = 4;
    constexpr int kLines = 500;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                diag("thread %d line %d %s\n", t, i, std::string(static_cast<std::size_t>(40 + t * 300), 'a' + t).c_str());
        });
    for (std::thread& w : writers)
        w.join();
    const DiagnosticLog::Taken taken = log.take();
    ASSERT_EQ(taken.lines.size(), static_cast<std::size_t>(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : taken.lines) {
        int t = -1, i = -1;
        char tail[2000] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d %1999s", &t, &i, tail), 3) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        EXPECT_EQ(i, next[static_cast<std::size_t>(t)]++) << "each thread's lines in order";
        EXPECT_EQ(std::string(tail), std::string(static_cast<std::size_t>(40 + t * 300), 'a' + t)) << line;
    }
    std::string joined;
    for (const std::string& line : taken.lines)
        joined += line + "\n";
    EXPECT_EQ(capture.text(), joined) << "the capture saw the same calls in the same order";
}
