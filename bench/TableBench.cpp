// A table page of 1,000 rows from one range template, against a device on
// loopback UDP: the time from the arrival of the row count to the first
// screenful drawn (every later stage's request batch answered, the list
// reloaded, the window painted), with the request batches and datagrams it
// took as counters. The baseline formats the same 1,000 rows' texts
// (printf("Row %d", k) and the value) with nothing of the table around them.
//
// Results go to stderr; "table_vs_baseline" is the ratio of the two times,
// measured in the same iterations.
#include "app/AppWindow.h"
#include "bench/BenchMain.h"
#include "device/Client.h"
#include "pages/ClientDynamicTable.h"
#include "support/ManualLoop.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingAlerts.h"
#include "support/UdpPeer.h"
#include "pages/PageBuildContext.h"
#include "uidesc/XMLReader.h"
#include "variables/RequestAnswer.h"
#include "widgets/NavigationStack.h"

#include <QApplication>
#include <QPixmap>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

using namespace fieldmon;

namespace {

constexpr int kRows = 1000;

const char* kDocument = R"(<device>
  <variables>(WORD) count = 0; (WORD) vals = 1;</variables>
  <start initial='t'/>
  <table name='t' title='"Readings"' cellCount='count' indexVar='k' refresh='once'>
    <cell left='printf("Row %d", k)' right='printf("%d", vals[k])' indexStart='0'/>
  </table>
</device>)";

// count (index 0) reads 1000; everything else is the low byte of its address.
struct Memory : AnswerMemory {
    std::uint32_t addressOfIndex(int index) const override { return 0x100 + 0x40 * static_cast<std::uint32_t>(index); }
    void read(std::uint64_t address, std::uint64_t n, std::string& out) const override
    {
        for (std::uint64_t k = 0; k < n; ++k) {
            const std::uint64_t a = address + k;
            out += a == 0x100 ? char(kRows & 0xff) : a == 0x101 ? char(kRows >> 8) : char(a & 0xff);
        }
    }
};

struct Rig {
    platform::ManualLoop loop;
    platform::NotificationCenter notifications;
    platform::RecordingAlerts alerts;
    std::shared_ptr<Client> client = Client::create(false, platform::Services{loop, notifications, alerts});
    test::UdpPeer device{"127.0.0.1"};
    int sock = test::makeSendSocket();
    std::mutex sendMutex;
    AppWindow window;
    std::unique_ptr<PageBuildContext> pages;
    std::shared_ptr<ClientDynamicTable> table;
    int datagrams = 0;

    Rig()
    {
        client->setSocket(sock, &sendMutex);
        client->setAddress(test::ipv4("127.0.0.1"), device.port());
        window.navigationStack()->setRoot(new Screen());
        window.show();
        pages = std::make_unique<PageBuildContext>(client);
        XMLReader reader(*pages);
        reader.setClient(client);
        reader.parseXMLFileAtString(kDocument);
        table = std::dynamic_pointer_cast<ClientDynamicTable>(pages->initialPage());
        window.navigationStack()->push(table.get(), false);
    }
    ~Rig()
    {
        window.navigationStack()->popToRoot(false);
        client->scheduler().unscheduleAll();
        client->variables().requests().clear();
        ::close(sock);
    }
    // Answers one request datagram as the device would; false when none came.
    bool answerOne()
    {
        auto d = device.receive(0);
        if (!d)
            return false;
        ++datagrams;
        std::string note;
        const std::string& request = d->bytes;
        if (request[0] == 'v')
            client->variables().requests().handleAddressReply(answerAddressRequest(request, Memory{}, note).value_or(""));
        else if (request[0] == 'a')
            client->variables().requests().handleValueReply(answerValueRequest(request, Memory{}, note).value_or(""));
        return true;
    }
};

// The bare cost: the 1,000 rows' texts, formatted and kept, nothing else.
double formatRows()
{
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<std::pair<std::string, std::string>> rows;
    rows.reserve(kRows);
    char left[32], right[32];
    for (int k = 0; k < kRows; ++k) {
        std::snprintf(left, sizeof left, "Row %d", k);
        std::snprintf(right, sizeof right, "%d", (0x140 + 2 * k) & 0xffff);
        rows.emplace_back(left, right);
    }
    benchmark::DoNotOptimize(rows);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_TableFirstScreenful(benchmark::State& state)
{
    double datagrams = 0, tableSeconds = 0, baseSeconds = 0;
    for (auto _ : state) {
        auto rig = std::make_unique<Rig>();
        // The count's address, then its value: up to the count's arrival.
        rig->answerOne();
        auto countRequest = rig->device.receive(100);
        if (!countRequest) {
            state.SkipWithError("no request for the row count");
            break;
        }
        rig->datagrams = 0;

        const auto t0 = std::chrono::steady_clock::now();
        std::string note;
        rig->client->variables().requests().handleValueReply(answerValueRequest(countRequest->bytes, Memory{}, note).value_or(""));
        while (rig->answerOne()) {
        }
        QPixmap drawn = rig->window.grab();
        benchmark::DoNotOptimize(drawn);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(seconds);
        tableSeconds += seconds;
        baseSeconds += formatRows();

        if (rig->table->tableView()->numberOfRows(0) != kRows)
            state.SkipWithError("the table did not fill");
        datagrams += rig->datagrams;
    }
    const double n = static_cast<double>(state.iterations());
    // Every request datagram is one submitted batch (the queues send one
    // datagram per submit), so the two counts agree here.
    state.counters["request_batches"] = datagrams / n;
    state.counters["datagrams"] = datagrams / n;
    state.counters["baseline_us"] = baseSeconds / n * 1e6;
    state.counters["table_vs_baseline"] = tableSeconds / baseSeconds;
}

BENCHMARK(BM_TableFirstScreenful)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    // The reader and the table print diagnostic lines; a terminal would
    // measure itself. Results go to stderr.
    if (!bench::silenceStdout())
        return 1;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return bench::runBenchmarks(argc, argv);
}
