// Device pages: how fast a document becomes a shown page, and what a busy
// page costs while it refreshes.
//
// build_1000_labels: a document of 1,000 labels (positions, sizes, rates),
// read and built into a page that is shown once (painted), compiles and
// bindings included. Beside it, in the same iterations: the way .ui-based
// display managers build a display (QUiLoader on a Designer .ui of the same
// 1,000 positioned labels, shown once), and the bare floor (one
// QXmlStreamReader pass over our document plus 1,000 positioned QLabels
// created and shown once). Counters: the median milliseconds of each and
// the ratios.
//
// page_500_labels_10hz: a page of 500 labels bound to 500 device variables at
// refresh 0.1, against a device on loopback that answers every request with
// new values (on a thread of its own), for five seconds of the real Qt event
// loop. Counters: main-thread CPU milliseconds per second, label texts
// changed per second, replies handled per second, and the process's peak RSS.
// (The replies are read on the main thread here; the app reads them on its
// listen thread.)
//
// phases: where the time of build_1000_labels goes.

#include "history/HistoryFeed.h"
#include "history/HistoryStore.h"
#include "bench/BenchMain.h"
#include "device/Client.h"
#include "pages/ClientDynamicView.h"
#include "elements/label/LabelView.h"
#include "elements/label/RemoteLabel.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingAlerts.h"
#include "platform/qt/QtMainLoop.h"
#include "pages/PageBuildContext.h"
#include "uidesc/XMLReader.h"
#include "variables/RequestAnswer.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QSocketNotifier>
#include <QTimer>
#include <QUiLoader>
#include <QXmlStreamReader>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

using namespace fieldmon;

namespace {

constexpr int kLabels = 1000;

double x(int i) { return 0.02 + 0.06 * (i % 15); }
double y(int i) { return 0.01 + 0.012 * (i / 15); }

std::string labelsDocument(int count, const char* rate, bool variables)
{
    std::string doc = "<device>\n<variables>";
    if (variables)
        for (int i = 0; i < count; ++i)
            doc += "(int) v" + std::to_string(i) + " = " + std::to_string(i) + ";";
    doc += "</variables>\n<start initial='main'/>\n<page name='main' title='\"Many\"'>\n";
    char line[256];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "<label position='(%.3f, %.3f)' size='10' left='1' refresh='%s'>%s</label>\n",
                      x(i), y(i), rate, variables ? ("printf(\"%d\", v" + std::to_string(i) + ")").c_str() : "\"label\"");
        doc += line;
    }
    return doc + "</page>\n</device>\n";
}

// The same labels as a Designer form.
QByteArray designerForm(int count)
{
    QByteArray ui = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\"><class>Page</class>"
                    "<widget class=\"QWidget\" name=\"Page\"><property name=\"geometry\"><rect><x>0</x><y>0</y>"
                    "<width>320</width><height>416</height></rect></property>";
    for (int i = 0; i < count; ++i) {
        ui += QStringLiteral("<widget class=\"QLabel\" name=\"l%1\"><property name=\"geometry\"><rect><x>%2</x><y>%3</y>"
                             "<width>320</width><height>35</height></rect></property><property name=\"font\"><font>"
                             "<pointsize>10</pointsize></font></property><property name=\"text\"><string>(nil)</string>"
                             "</property></widget>")
                  .arg(i)
                  .arg(int(x(i) * 320))
                  .arg(int(y(i) * 416))
                  .toUtf8();
    }
    return ui + "</widget><resources/><connections/></ui>";
}

double millisecondsOf(const std::function<void()>& f)
{
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Services {
    platform::QtMainLoop loop;
    platform::NotificationCenter notifications;
    platform::RecordingAlerts alerts;
    platform::Services services{loop, notifications, alerts};
};

void BM_Build1000Labels(benchmark::State& state)
{
    const std::string doc = labelsDocument(kLabels, "1", true);
    const QByteArray form = designerForm(kLabels);
    std::vector<double> ours, loader, floor;
    Services s;
    for (auto _ : state) {
        // Each variant is timed up to its page shown once; taking the page
        // down again is not part of the time.
        // The floor: one pass of the parser and the labels, shown once.
        std::unique_ptr<QWidget> plain;
        floor.push_back(millisecondsOf([&] {
            QXmlStreamReader r(QString::fromLatin1(doc.data(), static_cast<qsizetype>(doc.size())));
            plain = std::make_unique<QWidget>();
            plain->resize(320, 416);
            int i = 0;
            while (!r.atEnd())
                if (r.readNext() == QXmlStreamReader::StartElement && r.name() == QLatin1String("label")) {
                    auto* l = new QLabel(QStringLiteral("(nil)"), plain.get());
                    l->setGeometry(int(x(i) * 320), int(y(i) * 416), 320, 35);
                    ++i;
                }
            plain->show();
            plain->grab();
        }));
        plain.reset();
        std::unique_ptr<QWidget> designed;
        loader.push_back(millisecondsOf([&] {
            QUiLoader ui;
            QBuffer buffer;
            buffer.setData(form);
            designed.reset(ui.load(&buffer));
            designed->show();
            designed->grab();
        }));
        designed.reset();
        auto client = Client::create(false, s.services);
        std::shared_ptr<DevicePage> page;
        std::unique_ptr<PageBuildContext> made;
        ours.push_back(millisecondsOf([&] {
            made = std::make_unique<PageBuildContext>(client);
            XMLReader reader(*made);
            reader.setClient(client);
            reader.parseXMLFileAtString(doc);
            page = made->initialPage();
            page->resize(320, 416);
            page->viewWillAppear(false);
            page->show();
            page->grab();
        }));
        page->hide();
        page.reset();
        made.reset();
        QCoreApplication::sendPostedEvents();
    }
    state.counters["floor_ms"] = median(floor);
    state.counters["uiloader_ms"] = median(loader);
    state.counters["ours_ms"] = median(ours);
    state.counters["ours_vs_floor"] = median(ours) / median(floor);
    state.counters["ours_vs_uiloader"] = median(ours) / median(loader);
    state.counters["uiloader_vs_floor"] = median(loader) / median(floor);
}

// Where the time of build_1000_labels goes: reading (parse, compile, bind,
// widgets made), views put on the page, shown, painted, taken down.
void BM_Phases(benchmark::State& state)
{
    const std::string doc = labelsDocument(kLabels, "1", true);
    Services s;
    std::vector<double> read, appear, show, grab, end;
    for (auto _ : state) {
        auto client = Client::create(false, s.services);
        std::shared_ptr<DevicePage> page;
        auto made = std::make_unique<PageBuildContext>(client);
        XMLReader reader(*made);
        read.push_back(millisecondsOf([&] {
            reader.setClient(client);
            reader.parseXMLFileAtString(doc);
            page = made->initialPage();
        }));
        appear.push_back(millisecondsOf([&] { page->resize(320, 416); page->viewWillAppear(false); }));
        show.push_back(millisecondsOf([&] { page->show(); }));
        grab.push_back(millisecondsOf([&] { page->grab(); }));
        end.push_back(millisecondsOf([&] {
            page->hide();
            page.reset();
            made.reset();
            QCoreApplication::sendPostedEvents();
        }));
    }
    state.counters["read"] = median(read);
    state.counters["appear"] = median(appear);
    state.counters["show"] = median(show);
    state.counters["grab"] = median(grab);
    state.counters["end"] = median(end);
}
BENCHMARK(BM_Phases)->Unit(benchmark::kMillisecond)->Iterations(10);

// A device on loopback answering from its own thread: every value it reads
// changes with each answer.
class LoopbackDevice final : public AnswerMemory {
public:
    LoopbackDevice()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        socklen_t len = sizeof sa;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        timeval tv{0, 100000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackDevice() override
    {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    std::uint16_t port() const { return port_; }

    std::uint32_t addressOfIndex(int lowByte) const override { return 0x100 + 4 * static_cast<std::uint32_t>(lowByte); }
    void read(std::uint64_t address, std::uint64_t count, std::string& out) const override
    {
        for (std::uint64_t k = 0; k < count; ++k)
            out += static_cast<char>((address + k + tick_) & 0x7f);
    }

private:
    void serve()
    {
        char buffer[65536];
        while (!stop_) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n <= 0)
                continue;
            std::string_view request(buffer, static_cast<std::size_t>(n));
            std::string note;
            auto reply = request[0] == 'v' ? answerAddressRequest(request, *this, note)
                                           : answerValueRequest(request, *this, note);
            ++tick_;
            if (reply)
                ::sendto(fd_, reply->data(), reply->size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }

    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> tick_{0};
    std::thread thread_;
};

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Arg 1: every value the replies store also goes into the value history
// (memory tiers, as the app keeps them), the reply path's extra cost
// against Arg 0 in the same run.
void BM_Page500LabelsAt10Hz(benchmark::State& state)
{
    constexpr int kCount = 500;
    constexpr int kSeconds = 5;
    const std::string doc = labelsDocument(kCount, "0.1", true);
    Services s;
    std::unique_ptr<history::HistoryStore> store;
    std::unique_ptr<history::HistoryFeed> feed;
    LoopbackDevice device;
    std::mutex sendMutex;
    int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
    auto client = Client::create(false, s.services);
    client->setSocket(sock, &sendMutex);
    in_addr loopback{};
    loopback.s_addr = htonl(INADDR_LOOPBACK);
    client->setAddress(loopback, device.port());
    if (state.range(0)) {
        using namespace std::chrono;
        store = std::make_unique<history::HistoryStore>(
            s.loop, nullptr, history::HistoryOptions{},
            history::ClockReading{s.loop.now(), duration<double>(system_clock::now().time_since_epoch()).count()});
        feed = std::make_unique<history::HistoryFeed>(*store, client->serialNumber());
        client->variables().setValueObserver(feed.get());
    }
    // Replies come back to the record's socket; the app's listen thread
    // would hand them over, here the main thread reads them itself.
    long repliesIn = 0;
    QSocketNotifier replies(sock, QSocketNotifier::Read);
    QObject::connect(&replies, &QSocketNotifier::activated, [&] {
        char buffer[65536];
        ssize_t n = ::recv(sock, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return;
        std::string_view datagram(buffer, static_cast<std::size_t>(n));
        ++repliesIn;
        // "V" answers the address requests, "A" the value requests.
        if (datagram[0] == 'V')
            client->variables().requests().handleAddressReply(datagram);
        else if (datagram[0] == 'A')
            client->variables().requests().handleValueReply(datagram);
    });
    for (auto _ : state) {
        PageBuildContext pages(client);
        XMLReader reader(pages);
        reader.setClient(client);
        reader.parseXMLFileAtString(doc);
        std::shared_ptr<DevicePage> page = pages.initialPage();
        page->resize(320, 416);
        page->viewWillAppear(false);
        page->show();
        page->viewDidAppear(false);
        std::vector<std::shared_ptr<RemoteLabel>> labels;
        for (const auto& w : page->uiElements())
            labels.push_back(std::static_pointer_cast<RemoteLabel>(w));
        std::vector<QString> last(labels.size());
        long changes = 0;
        QTimer sample;
        QObject::connect(&sample, &QTimer::timeout, [&] {
            for (std::size_t i = 0; i < labels.size(); ++i)
                if (labels[i]->label()->text() != last[i]) {
                    last[i] = labels[i]->label()->text();
                    ++changes;
                }
        });
        sample.start(100);
        const double cpuStart = threadCpuMs();
        QElapsedTimer wall;
        wall.start();
        QEventLoop running;
        QTimer::singleShot(kSeconds * 1000, &running, &QEventLoop::quit);
        running.exec();
        const double cpu = threadCpuMs() - cpuStart;
        const double seconds = wall.elapsed() / 1000.0;
        sample.stop();
        page->hide();
        page->viewWillDisappear(false);
        page->viewDidDisappear(false);
        page.reset();
        QCoreApplication::sendPostedEvents();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        state.counters["main_cpu_ms_per_s"] = cpu / seconds;
        state.counters["label_changes_per_s"] = changes / seconds;
        state.counters["peak_rss_mb"] = usage.ru_maxrss / 1024.0;
        state.counters["replies_per_s"] = repliesIn / seconds;
        if (feed)
            state.counters["history_values_per_s"] = static_cast<double>(feed->appended()) / seconds;
    }
    client->variables().setValueObserver(nullptr);
    ::close(sock);
}

} // namespace

BENCHMARK(BM_Build1000Labels)->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_Page500LabelsAt10Hz)->Unit(benchmark::kSecond)->Iterations(1)->ArgName("history")->Arg(0)->Arg(1)->Arg(0)->Arg(1);

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The reader and the records print diagnostics; a terminal would measure
    // itself. Results go to stderr.
    if (!bench::silenceStdout())
        return 1;
    QApplication app(argc, argv);
    return bench::runBenchmarks(argc, argv);
}
