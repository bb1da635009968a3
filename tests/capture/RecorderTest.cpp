// The recorder: what it writes reads back (with libpcap here, with tshark
// when it is installed), its queue drops whole items when the disk falls
// behind, and a size cap, an unwritable path or a full disk stop it with a
// report while the file stays readable.

#include "capture/Recorder.h"
#include "capture/CaptureReader.h"
#include "capture/HttpExchanges.h"
#include "support/ManualLoop.h"

#include "CaptureFiles.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <thread>

using namespace fieldmon;
using namespace fieldmon::capture;
using namespace fieldmon::test;

namespace {

const Endpoint kApp{0x0A4D0001, 10023};
const Endpoint kAppSending{0x0A4D0001, 41234};
const Endpoint kDevice{0x0A4D000A, 10024};
const Endpoint kBroadcast{0xFFFFFFFF, 10024};
const Recorder::WallTime kStart = Recorder::WallTime(std::chrono::seconds(1'700'000'000));

Recorder::WallTime at(double seconds)
{
    return kStart + std::chrono::microseconds(static_cast<std::int64_t>(seconds * 1e6));
}

Recorder::Options into(const std::string& path)
{
    Recorder::Options o;
    o.path = path;
    return o;
}

struct Stopped {
    int count = 0;
    Recorder::StopReason reason{};
    std::string detail;
};

struct Contents {
    std::vector<std::string> udp;
    std::vector<HttpExchange> http;
    std::size_t tcpPackets = 0;
    CaptureReader::Next last = CaptureReader::Next::End;
    std::string error;
};

Contents contents(const std::string& path)
{
    Contents c;
    std::string why;
    auto reader = CaptureReader::open(path, why);
    EXPECT_TRUE(reader) << why;
    if (!reader)
        return c;
    HttpExchanges http;
    CapturedPacket p;
    while ((c.last = reader->next(p)) == CaptureReader::Next::Packet) {
        if (p.protocol == CapturedPacket::Protocol::Udp) {
            c.udp.emplace_back(p.payload);
        } else {
            ++c.tcpPackets;
            http.add(p, c.http);
        }
    }
    c.error = reader->error();
    http.finish(c.http);
    return c;
}

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string run(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer;
        std::size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), p)) > 0)
            out.append(buffer.data(), n);
        ::pclose(p);
    }
    return out;
}

// A short visit: the search, the device's announcement and the app's
// acknowledgement, a value request and its reply, the ui.xml transfer.
void visit(Recorder& r)
{
    using D = Recorder::Direction;
    r.datagram(D::Sent, kAppSending, kBroadcast, "H", at(0));
    r.datagram(D::Received, kDevice, kApp, "mPLAT;PUMP;North well;3;1207;0", at(0.001));
    r.datagram(D::Sent, kAppSending, kDevice, "s", at(0.002));
    r.datagram(D::Sent, kAppSending, kDevice, "ab00000100E", at(0.5));
    r.datagram(D::Received, kDevice, kApp, std::string("Ab\x10\x27\x00\x00\x00", 7), at(0.51));
    r.httpTransfer({kApp.address, 0}, {kDevice.address, 80}, "GET /ui.xml HTTP/1.1\r\nHost: 10.77.0.10\r\n\r\n",
                   "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 11\r\n\r\n<ui>hi</ui>", at(0.2), at(0.3));
}

} // namespace

TEST(Recorder, AVisitReadsBackWithItsDatagramsTransferAndOneCommentNamingTheDevice)
{
    TempDir dir;
    platform::ManualLoop loop;
    platform::StorageThread storage;
    Stopped stopped;
    {
        Recorder r(into(dir.file("visit.pcapng")), storage, loop, [&](auto, auto&) { ++stopped.count; });
        visit(r);
        r.datagram(Recorder::Direction::Received, kDevice, kApp, "mPLAT;PUMP;North well;3;1207;0", at(1));
        storage.waitIdle(10);
        EXPECT_TRUE(r.recording());
        EXPECT_EQ(r.counts().dropped, 0u);
    }
    storage.waitIdle(10);
    loop.runPending();
    EXPECT_EQ(stopped.count, 0);

    const Contents c = contents(dir.file("visit.pcapng"));
    EXPECT_EQ(c.last, CaptureReader::Next::End) << c.error;
    ASSERT_EQ(c.udp.size(), 6u);
    EXPECT_EQ(c.udp[1], "mPLAT;PUMP;North well;3;1207;0");
    EXPECT_EQ(c.udp[4], std::string("Ab\x10\x27\x00\x00\x00", 7));
    ASSERT_EQ(c.http.size(), 1u);
    EXPECT_EQ(c.http[0].target, "/ui.xml");
    EXPECT_EQ(c.http[0].body, "<ui>hi</ui>");
    EXPECT_EQ(c.http[0].server.port, 80);
    EXPECT_NE(c.http[0].client.port, 0); // made up, but a real port

    const std::string file = readFile(dir.file("visit.pcapng"));
    EXPECT_EQ(occurrences(file, Recorder::defaultApplication()), 1u);
    EXPECT_EQ(occurrences(file, "fieldmon: device North well (1207), PLAT PUMP version 3, at 10.77.0.10"), 1u);
}

TEST(Recorder, WiresharkReadsTheFileWithGoodChecksumsTheTransferAndTheComment)
{
    if (std::system("command -v tshark >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark is not installed (tools/deps.sh installs it)";
    TempDir dir;
    platform::ManualLoop loop;
    platform::StorageThread storage;
    {
        Recorder r(into(dir.file("visit.pcapng")), storage, loop, nullptr);
        visit(r);
    }
    storage.waitIdle(10);
    const std::string tshark = "tshark -n -r " + dir.file("visit.pcapng") +
                               " -o ip.check_checksum:TRUE -o udp.check_checksum:TRUE -o tcp.check_checksum:TRUE";
    const std::string bad = run(tshark + " -Y 'ip.checksum.status == 0 || udp.checksum.status == 0 || "
                                         "tcp.checksum.status == 0 || tcp.analysis.flags || _ws.malformed' 2>/dev/null");
    EXPECT_EQ(bad, "");
    const std::string http = run(tshark + " -Y http -T fields -e http.request.uri -e http.response.code -e "
                                          "http.file_data 2>/dev/null");
    EXPECT_NE(http.find("/ui.xml"), std::string::npos) << http;
    EXPECT_NE(http.find("200\t<ui>hi</ui>"), std::string::npos) << http;
    const std::string comments = run(tshark + " -Y frame.comment -T fields -e frame.comment 2>/dev/null");
    EXPECT_EQ(comments, "fieldmon: device North well (1207), PLAT PUMP version 3, at 10.77.0.10\n");
    const std::string application = run("capinfos " + dir.file("visit.pcapng") + " 2>&1");
    EXPECT_NE(application.find(Recorder::defaultApplication()), std::string::npos) << application;
}

TEST(Recorder, AFullQueueDropsWholeItemsAndCountsThem)
{
    TempDir dir;
    platform::ManualLoop loop;
    platform::StorageThread storage;
    Recorder::Options options = into(dir.file("full.pcapng"));
    options.queueBytes = 4096;
    StorageBlock busy(storage);
    Recorder r(options, storage, loop, nullptr);
    // The storage thread is busy elsewhere: the queue fills, then refuses.
    int accepted = 0;
    for (int i = 0; i < 200; ++i) {
        const auto before = r.counts().dropped;
        r.datagram(Recorder::Direction::Sent, kAppSending, kDevice, "c" + std::string(60, 'a' + i % 26) + "\n", at(i));
        accepted += r.counts().dropped == before;
    }
    EXPECT_GT(accepted, 10);
    EXPECT_EQ(r.counts().dropped, 200u - static_cast<unsigned>(accepted));
    // A transfer larger than the whole queue is dropped too, never cut.
    r.httpTransfer(kApp, {kDevice.address, 80}, "GET /big.png HTTP/1.1\r\n\r\n", std::string(8192, 'x'), at(0), at(1));
    EXPECT_EQ(r.counts().dropped, 201u - static_cast<unsigned>(accepted));

    busy.release();
    storage.waitIdle(10);
    // Room again once the disk caught up.
    r.datagram(Recorder::Direction::Sent, kAppSending, kDevice, "last", at(300));
    storage.waitIdle(10);
    const Contents c = contents(dir.file("full.pcapng"));
    ASSERT_EQ(c.udp.size(), static_cast<std::size_t>(accepted) + 1);
    for (std::size_t i = 0; i + 1 < c.udp.size(); ++i)
        EXPECT_EQ(c.udp[i].size(), 62u);
    EXPECT_EQ(c.udp.back(), "last");
    EXPECT_EQ(c.tcpPackets, 0u);
}

TEST(Recorder, DatagramsFromTwoThreadsWhileTheStorageThreadWritesAreAllThere)
{
    TempDir dir;
    platform::ManualLoop loop;
    std::size_t recorded = 0;
    {
        platform::StorageThread storage;
        Recorder r(into(dir.file("threads.pcapng")), storage, loop, nullptr);
        auto send = [&](char who) {
            for (int i = 0; i < 5000; ++i)
                r.datagram(Recorder::Direction::Sent, kAppSending, kDevice, std::string(1, who) + std::to_string(i),
                           at(i * 0.001));
        };
        std::thread main(send, 'M'), listen(send, 'F');
        main.join();
        listen.join();
        recorded = 10000 - r.counts().dropped;
        r.stop();
        storage.waitIdle(10);
        EXPECT_EQ(r.counts().packets, recorded);
    }
    const Contents c = contents(dir.file("threads.pcapng"));
    EXPECT_EQ(c.last, CaptureReader::Next::End);
    EXPECT_EQ(c.udp.size(), recorded);
    // Each thread's datagrams keep their order.
    int next[2] = {0, 0};
    for (const auto& d : c.udp) {
        const int side = d[0] == 'M' ? 0 : 1;
        const int n = std::stoi(d.substr(1));
        EXPECT_GE(n, next[side]);
        next[side] = n + 1;
    }
}

TEST(Recorder, TheSizeCapStopsRecordingWithAReportAndAWholeFile)
{
    TempDir dir;
    platform::ManualLoop loop;
    platform::StorageThread storage;
    Stopped stopped;
    Recorder::Options options = into(dir.file("cap.pcapng"));
    options.sizeCap = 2000;
    Recorder r(options, storage, loop, [&](Recorder::StopReason reason, const std::string& detail) {
        ++stopped.count;
        stopped.reason = reason;
        stopped.detail = detail;
    });
    for (int i = 0; i < 40; ++i) {
        r.datagram(Recorder::Direction::Received, kDevice, kApp, "e12:00:00 LINE " + std::to_string(i), at(i));
        storage.waitIdle(10);
    }
    EXPECT_FALSE(r.recording());
    EXPECT_EQ(stopped.count, 0); // the report comes through the main loop
    loop.runPending();
    ASSERT_EQ(stopped.count, 1);
    EXPECT_EQ(stopped.reason, Recorder::StopReason::SizeCap);
    EXPECT_NE(stopped.detail.find("size cap of 2000 bytes"), std::string::npos) << stopped.detail;
    const auto size = std::filesystem::file_size(dir.file("cap.pcapng"));
    EXPECT_LE(size, 2000u);
    EXPECT_EQ(size, r.counts().bytes);
    const Contents c = contents(dir.file("cap.pcapng"));
    EXPECT_EQ(c.last, CaptureReader::Next::End);
    EXPECT_GT(c.udp.size(), 10u);
    EXPECT_EQ(c.udp.size(), r.counts().packets);
}

TEST(Recorder, AnUnwritablePathIsReportedAndTheReportNeverOutlivesTheRecorder)
{
    TempDir dir;
    platform::ManualLoop loop;
    platform::StorageThread storage;
    Stopped stopped;
    {
        Recorder r(into(dir.file("no/such/folder/visit.pcapng")), storage, loop, [&](auto reason, const std::string& detail) {
            ++stopped.count;
            stopped.reason = reason;
            stopped.detail = detail;
        });
        storage.waitIdle(10);
        EXPECT_FALSE(r.recording());
        visit(r); // ignored
        storage.waitIdle(10);
        loop.runPending();
    }
    ASSERT_EQ(stopped.count, 1);
    EXPECT_EQ(stopped.reason, Recorder::StopReason::WriteFailed);
    EXPECT_NE(stopped.detail.find("No such file or directory"), std::string::npos) << stopped.detail;

    // A failure whose report is still on its way when the recorder goes: the
    // handler (and what it captured) must not be called any more.
    {
        Recorder r(into(dir.file("no/such/folder/again.pcapng")), storage, loop, [&](auto, auto&) { ++stopped.count; });
        storage.waitIdle(10);
    }
    loop.runPending();
    EXPECT_EQ(stopped.count, 1);
}

TEST(Recorder, AFullDiskStopsRecordingAndTheFileReadsUpToItsLastWholeBlock)
{
    // A 64 KiB tmpfs in a private mount namespace of a child process: the
    // disk fills in the middle of a block.
    if (::geteuid() != 0)
        GTEST_SKIP() << "a private mount namespace needs root";
    TempDir dir;
    const std::string mountPoint = dir.file("disk");
    std::filesystem::create_directory(mountPoint);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
            ::_exit(77);
        platform::ManualLoop loop;
        platform::StorageThread storage;
        Stopped stopped;
        const std::string path = mountPoint + "/visit.pcapng";
        Recorder r(into(path), storage, loop, [&](auto reason, const std::string& detail) {
            ++stopped.count;
            stopped.reason = reason;
            stopped.detail = detail;
        });
        for (int i = 0; i < 200 && r.recording(); ++i) {
            r.datagram(Recorder::Direction::Received, kDevice, kApp, "e" + std::string(999, 'a' + i % 26), at(i));
            storage.waitIdle(10);
        }
        loop.runPending();
        if (stopped.count != 1 || stopped.reason != Recorder::StopReason::WriteFailed ||
            stopped.detail.find("No space left on device") == std::string::npos)
            ::_exit(1);
        const Contents c = contents(path);
        const bool whole = c.last == CaptureReader::Next::End && c.udp.size() == r.counts().packets &&
                           c.udp.size() > 30 && std::filesystem::file_size(path) == r.counts().bytes;
        ::_exit(whole ? 0 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no WriteFailed report naming the full disk; 2: the file is not whole";
}
