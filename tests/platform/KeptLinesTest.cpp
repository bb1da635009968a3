// The lines kept for the automation "log" command.

#include "platform/KeptLines.h"

#include <gtest/gtest.h>

#include <string>

using fieldmon::platform::KeptLines;

TEST(KeptLines, CutsLinesAcrossChunksAndKeepsThemInOrder)
{
    KeptLines kept;
    for (const char* chunk : {"Found new", " client 1207!\nGot a", " file\n", "partial"})
        kept.add(chunk, std::char_traits<char>::length(chunk));
    KeptLines::Taken taken = kept.take();
    EXPECT_EQ(taken.lines, (std::vector<std::string>{"Found new client 1207!", "Got a file"}));
    EXPECT_EQ(taken.dropped, 0u);
    kept.add("\n", 1);
    EXPECT_EQ(kept.take().lines, std::vector<std::string>{"partial"}) << "each line once";
}

TEST(KeptLines, LongLinesAreBoundedInBytesNotOnlyInCount)
{
    // A device flooding bad datagrams makes a dump of several kilobytes a
    // line; ten thousand kept lines of that size grew the app by tens of
    // megabytes while nobody asked for the log.
    KeptLines kept;
    const std::string dump = std::string(5000, 'x') + "\n";
    for (int i = 0; i < 2000; ++i)
        kept.add(dump.data(), dump.size());
    KeptLines::Taken taken = kept.take();
    EXPECT_LE(taken.lines.size() * 5000, KeptLines::kMaxBytes);
    EXPECT_EQ(taken.lines.size() + taken.dropped, 2000u) << "every line kept or counted";
    const std::string huge = std::string(KeptLines::kMaxLineBytes + 10, 'y') + "\nz\n";
    kept.add(huge.data(), huge.size());
    taken = kept.take();
    ASSERT_EQ(taken.lines.size(), 2u);
    EXPECT_EQ(taken.lines[0].size(), KeptLines::kMaxLineBytes);
    EXPECT_EQ(taken.lines[1], "z");
}
