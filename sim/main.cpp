// fieldsim: runs simulated field devices described by JSON files; see
// `fieldsim --help`. Exit status: 0, 1 when a device or a check fails, 2 for
// a wrong command line (with the usage on standard error).

#include "sim/CaptureTimeline.h"
#include "sim/DeviceConfig.h"
#include "sim/ReplayLoop.h"
#include "sim/Replayer.h"
#include "sim/Simulator.h"
#include "sim/UiDeclarations.h"
#include "sim/UiDocCheck.h"

#include "FieldmonVersion.h"

#include <QCommandLineParser>

#include <arpa/inet.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
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
                         "       fieldsim --help | --version\n");
    return 2;
}

int usage(const QString& why)
{
    std::fprintf(stderr, "fieldsim: %s\n", qPrintable(why));
    return usage();
}

// A port number of an option, or nothing when `text` is not one.
std::optional<std::uint16_t> portNumber(const QString& text)
{
    bool ok = false;
    const uint n = text.toUInt(&ok);
    if (!ok || n > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(n);
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

// Signals end the run cleanly; with `stopWithParent` the run ends with the
// process that started it (false: that one is gone already). Then the ready
// file says that the devices are up.
bool startRunning(bool stopWithParent, const std::string& readyFile)
{
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    if (stopWithParent) {
        // A script that runs us in a private network may itself be killed;
        // we must not outlive it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1)
            return false;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (!readyFile.empty()) {
        std::ofstream ready(readyFile);
        ready << "ready\n";
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const QCommandLineOption help({"h", "help"}, "help");
    const QCommandLineOption version("version", "version");
    const QCommandLineOption check("check", "check");
    const QCommandLineOption addresses("addresses", "addresses");
    const QCommandLineOption stopWithParentOption("stop-with-parent", "stop with parent");
    const QCommandLineOption logOption("log", "log", "FILE");
    const QCommandLineOption readyOption("ready-file", "ready file", "FILE");
    const QCommandLineOption forOption("for", "for", "SECONDS");
    const QCommandLineOption portOption("port", "port", "N");
    const QCommandLineOption appPortOption("app-port", "app port", "N");
    const QCommandLineOption replayOption("replay", "replay", "CAPTURE");
    const QCommandLineOption speedOption("speed", "speed", "X");
    const QCommandLineOption fromOption("from", "from", "SECONDS");
    const QCommandLineOption loopOption("loop", "loop");
    parser.addOptions({help, version, check, addresses, stopWithParentOption, logOption, readyOption, forOption,
                       portOption, appPortOption, replayOption, speedOption, fromOption, loopOption});
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        std::printf("%s", deviceConfigHelp());
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("fieldsim %s\n", fieldmon::kVersion);
        return 0;
    }

    std::vector<std::string> files;
    for (const QString& f : parser.positionalArguments())
        files.push_back(f.toLocal8Bit().toStdString());
    const std::string logPath = parser.value(logOption).toLocal8Bit().toStdString();
    const std::string readyFile = parser.value(readyOption).toLocal8Bit().toStdString();
    double seconds = 0;
    if (parser.isSet(forOption)) {
        bool ok = false;
        seconds = parser.value(forOption).toDouble(&ok);
        if (!ok || seconds < 0)
            return usage("--for needs a number of seconds");
    }
    SimulatorOptions options;
    auto readPort = [&parser](const QCommandLineOption& option, std::uint16_t& port) {
        if (!parser.isSet(option))
            return true;
        const auto n = portNumber(parser.value(option));
        if (n)
            port = *n;
        return n.has_value();
    };
    if (!readPort(portOption, options.devicePort) || !readPort(appPortOption, options.appPort))
        return usage("--port and --app-port need a port number (0 to 65535)");
    const bool stopWithParent = parser.isSet(stopWithParentOption);
    ReplayOptions replay;
    replay.path = parser.value(replayOption).toLocal8Bit().toStdString();
    replay.loop = parser.isSet(loopOption);
    if (parser.isSet(speedOption)) {
        bool ok = false;
        replay.speed = parser.value(speedOption).toDouble(&ok);
        if (!ok || !(replay.speed >= 0.25 && replay.speed <= 16))
            return usage("--speed runs from 0.25 to 16");
    }
    if (parser.isSet(fromOption)) {
        bool ok = false;
        replay.from = parser.value(fromOption).toDouble(&ok);
        if (!ok || !(replay.from >= 0))
            return usage("--from needs seconds from 0 on");
    }
    enum class Mode { Run, Check, Addresses } mode = Mode::Run;
    if (parser.isSet(check))
        mode = Mode::Check;
    else if (parser.isSet(addresses))
        mode = Mode::Addresses;
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
        if (!startRunning(stopWithParent, readyFile))
            return 0;
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
    if (!startRunning(stopWithParent, readyFile))
        return 0;
    log.line("fieldsim", "running " + std::to_string(simulator.deviceCount()) + " device(s)");
    simulator.run(seconds);
    log.line("fieldsim", "stopped");
    g_simulator = nullptr;
    return 0;
}
