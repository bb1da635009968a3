// fieldsim: runs simulated field devices described by JSON files; see
// `fieldsim --help`.

#include "sim/CaptureTimeline.h"
#include "sim/DeviceConfig.h"
#include "sim/ReplayLoop.h"
#include "sim/Replayer.h"
#include "sim/Simulator.h"
#include "sim/UiDeclarations.h"
#include "sim/UiDocCheck.h"

#include <arpa/inet.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace fieldmon::sim;

namespace {

Simulator* g_simulator = nullptr;
ReplayLoop* g_replay = nullptr;

void onSignal(int)
{
    if (g_simulator)
        g_simulator->requestStop();
    if (g_replay)
        g_replay->requestStop();
}

bool endsWith(const std::string& s, const char* suffix)
{
    const std::size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

std::string readAll(const std::string& path, bool& ok)
{
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Checks one ui.xml (given directly or through a device file).
int checkOne(const std::string& arg)
{
    std::string uiPath = arg;
    if (endsWith(arg, ".json")) {
        std::vector<std::string> errors;
        auto config = loadDeviceConfig(arg, errors);
        for (const auto& e : errors)
            std::printf("%s\n", e.c_str());
        if (!config)
            return 1;
        uiPath = config->folder + "/" + config->uiFile;
    }
    bool ok = false;
    const std::string xml = readAll(uiPath, ok);
    if (!ok) {
        std::printf("%s: cannot be read\n", uiPath.c_str());
        return 1;
    }
    std::vector<std::string> declErrors;
    const auto declared = declaredVariables(declarationTexts(xml, declErrors), declErrors);
    const DocReport report = checkUiDocument(xml, declared, declErrors);
    std::printf("%s", report.format(uiPath).c_str());
    std::printf("%s: %d errors, %d warnings\n", uiPath.c_str(), report.errors(), report.warnings());
    return report.errors() ? 1 : 0;
}

int usage()
{
    std::fprintf(stderr, "usage: fieldsim [--log FILE] [--ready-file FILE] [--for SECONDS] [--port N] "
                         "[--app-port N] [--stop-with-parent] DEVICE.json...\n"
                         "       fieldsim --replay CAPTURE [--speed X] [--from SECONDS] [--loop] [--log FILE] "
                         "[--ready-file FILE] [--port N] [--app-port N] [--stop-with-parent]\n"
                         "       fieldsim --check FILE...\n"
                         "       fieldsim --addresses DEVICE.json...   fieldsim --addresses --replay CAPTURE\n"
                         "       fieldsim --help\n");
    return 2;
}

// The address of every device that sends in the capture, one per line.
int printCaptureAddresses(const std::string& path)
{
    std::string why;
    auto timeline = CaptureTimeline::open(path, why);
    if (!timeline) {
        std::fprintf(stderr, "fieldsim: %s\n", why.c_str());
        return 1;
    }
    std::set<std::uint32_t> seen;
    TimelineItem item;
    while (timeline->next(item))
        if (item.kind == TimelineItem::Kind::FromDevice && seen.insert(item.from.address).second)
            std::printf("%s\n", fieldmon::capture::dottedAddress(item.from.address).c_str());
    if (!timeline->endedEarly().empty())
        std::fprintf(stderr, "fieldsim: %s: the capture ends early: %s\n", path.c_str(),
                     timeline->endedEarly().c_str());
    if (seen.empty()) {
        std::fprintf(stderr, "fieldsim: %s: no device in the capture\n", path.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> files;
    std::string logPath;
    std::string readyFile;
    double seconds = 0;
    SimulatorOptions options;
    bool stopWithParent = false;
    ReplayOptions replay;
    enum class Mode { Run, Check, Addresses } mode = Mode::Run;

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help" || a == "-h") {
            std::printf("%s", deviceConfigHelp());
            return 0;
        }
        if (a == "--stop-with-parent") {
            stopWithParent = true;
        } else if (a == "--check") {
            mode = Mode::Check;
        } else if (a == "--addresses") {
            mode = Mode::Addresses;
        } else if (a == "--loop") {
            replay.loop = true;
        } else if (a == "--replay" || a == "--speed" || a == "--from") {
            const char* v = value();
            if (!v)
                return usage();
            char* end = nullptr;
            const double number = std::strtod(v, &end);
            if (a == "--replay") {
                replay.path = v;
            } else if (*end != '\0' || (a == "--speed" && !(number >= 0.25 && number <= 16)) ||
                       (a == "--from" && !(number >= 0))) {
                std::fprintf(stderr, "fieldsim: %s %s: %s\n", a.c_str(), v,
                             a == "--speed" ? "the speed runs from 0.25 to 16" : "seconds from 0 on");
                return 2;
            } else if (a == "--speed") {
                replay.speed = number;
            } else {
                replay.from = number;
            }
        } else if (a == "--log" || a == "--ready-file" || a == "--for" || a == "--port" || a == "--app-port") {
            const char* v = value();
            if (!v)
                return usage();
            if (a == "--log")
                logPath = v;
            else if (a == "--ready-file")
                readyFile = v;
            else if (a == "--for")
                seconds = std::atof(v);
            else if (a == "--port")
                options.devicePort = static_cast<std::uint16_t>(std::atoi(v));
            else
                options.appPort = static_cast<std::uint16_t>(std::atoi(v));
        } else if (!a.empty() && a[0] == '-') {
            return usage();
        } else {
            files.push_back(a);
        }
    }
    const bool replaying = !replay.path.empty();
    if (files.empty() != replaying || (mode == Mode::Check && replaying))
        return usage();
    if (replaying && mode == Mode::Addresses)
        return printCaptureAddresses(replay.path);

    if (mode == Mode::Check) {
        int status = 0;
        for (const auto& f : files)
            status |= checkOne(f);
        return status;
    }

    std::vector<DeviceConfig> configs;
    std::vector<std::string> errors;
    for (const auto& f : files)
        if (auto c = loadDeviceConfig(f, errors))
            configs.push_back(std::move(*c));
    if (!errors.empty()) {
        for (const auto& e : errors)
            std::fprintf(stderr, "%s\n", e.c_str());
        return 1;
    }

    if (mode == Mode::Addresses) {
        for (const auto& c : configs)
            for (in_addr a : c.allAddresses()) {
                char text[INET_ADDRSTRLEN] = {};
                inet_ntop(AF_INET, &a, text, sizeof text);
                std::printf("%s\n", text);
            }
        return 0;
    }

    SimLog log;
    if (!logPath.empty() && !log.open(logPath)) {
        std::fprintf(stderr, "fieldsim: cannot open log file %s\n", logPath.c_str());
        return 1;
    }
    if (replaying) {
        replay.appPort = options.appPort;
        Replayer replayer(replay, log);
        std::string why;
        if (!replayer.open(why)) {
            std::fprintf(stderr, "fieldsim: %s\n", why.c_str());
            return 1;
        }
        ReplayLoop loop(replayer, log, options.devicePort, HttpSpec{});
        if (!loop.open(why)) {
            std::fprintf(stderr, "fieldsim: %s\n", why.c_str());
            return 1;
        }
        g_replay = &loop;
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        if (stopWithParent) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() == 1)
                return 0;
        }
        std::signal(SIGPIPE, SIG_IGN);
        if (!readyFile.empty()) {
            std::ofstream ready(readyFile);
            ready << "ready\n";
        }
        log.line("fieldsim", "replaying " + replay.path + (replay.loop ? " (looping)" : ""));
        loop.run();
        log.line("fieldsim", "stopped");
        g_replay = nullptr;
        return 0;
    }

    Simulator simulator(log, options);
    for (auto& c : configs) {
        std::vector<std::string> problems;
        const bool ok = simulator.addDevice(std::move(c), problems);
        for (const auto& p : problems)
            log.line("fieldsim", "problem: " + p);
        if (!ok)
            return 1;
    }
    std::string why;
    if (!simulator.open(why)) {
        std::fprintf(stderr, "fieldsim: %s\n", why.c_str());
        return 1;
    }
    g_simulator = &simulator;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    if (stopWithParent) {
        // A script that runs us in a private network may itself be killed;
        // we must not outlive it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1)
            return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (!readyFile.empty()) {
        std::ofstream ready(readyFile);
        ready << "ready\n";
    }
    log.line("fieldsim", "running " + std::to_string(simulator.deviceCount()) + " device(s)");
    simulator.run(seconds);
    log.line("fieldsim", "stopped");
    g_simulator = nullptr;
    return 0;
}
