// fieldmon: the hand-held monitor for networked field devices.
//
// The program keeps no settings. Options for unattended runs (scripts, the
// demo and the end-to-end tests):
//   --automation PATH, or FIELDMON_AUTOMATION=PATH
//                     serves the automation socket at PATH (see the README);
//                     the app refuses to start when PATH is in use or is not
//                     a socket. SIGTERM and SIGINT then end the app cleanly.
//   FIELDMON_QUIT_AFTER=<seconds>  ends the run by itself.

#include "app/AppWindow.h"
#include "app/TollgarAppDelegate.h"
#include "app/automation/Automation.h"
#include "app/automation/AutomationServer.h"
#include "app/automation/OutputTee.h"
#include "app/automation/QuitOnSignal.h"
#include "widgets/PhoneStyle.h"

#include <QApplication>
#include <QTimer>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The automation socket path from the command line or the environment;
// empty when automation is off. Other arguments are left to Qt.
QString automationPath(int argc, char** argv, bool& bad)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--automation") != 0)
            continue;
        if (i + 1 >= argc || argv[i + 1][0] == '\0') {
            bad = true;
            return {};
        }
        return QString::fromLocal8Bit(argv[i + 1]);
    }
    const char* env = std::getenv("FIELDMON_AUTOMATION");
    return env ? QString::fromLocal8Bit(env) : QString();
}

} // namespace

int main(int argc, char** argv)
{
    bool badArguments = false;
    QString socketPath = automationPath(argc, argv, badArguments);
    if (badArguments) {
        std::fprintf(stderr, "fieldmon: --automation needs a socket path\n");
        return 2;
    }
    namespace automation = fieldmon::automation;
    // The copy of standard output for the "log" command starts before
    // anything prints and ends after everything that prints has gone.
    std::unique_ptr<automation::OutputTee> tee;
    if (!socketPath.isEmpty()) {
        // A client that hangs up mid-reply must not end the app.
        std::signal(SIGPIPE, SIG_IGN);
        tee = automation::OutputTee::start();
    }

    QApplication app(argc, argv);
    // QApplication adopts the user's locale for the C library too. Numbers in
    // device documents, expressions ("%f") and rate texts are always written
    // with a decimal point, whatever language the technician's phone speaks.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setFont(fieldmon::phone::systemFont(14));

    std::unique_ptr<automation::AutomationServer> server;
    std::unique_ptr<automation::QuitOnSignal> onSignal;
    if (!socketPath.isEmpty()) {
        QString error;
        server = automation::AutomationServer::create(socketPath, error);
        if (!server) {
            std::fprintf(stderr, "fieldmon: automation socket: %s\n", qPrintable(error));
            return 1;
        }
        // From the moment a client can connect, a signal ends the run cleanly.
        onSignal = std::make_unique<automation::QuitOnSignal>();
        QObject::connect(onSignal.get(), &automation::QuitOnSignal::received, &app, &QApplication::quit);
    }

    int status = 0;
    {
        fieldmon::TollgarAppDelegate delegate;
        delegate.applicationDidFinishLaunching();

        std::unique_ptr<automation::Automation> commands;
        if (server) {
            commands = std::make_unique<automation::Automation>(*delegate.window(), tee.get());
            automation::Automation* run = commands.get();
            server->setHandler([run](const automation::Request& r, automation::Automation::Answer a) {
                run->run(r, std::move(a));
            });
            server->setClientLeft([run] { run->clientLeft(); });
            QObject::connect(run, &automation::Automation::quitRequested, &app, &QApplication::quit);
        }
        if (const char* quitAfter = std::getenv("FIELDMON_QUIT_AFTER"))
            QTimer::singleShot(static_cast<int>(std::atof(quitAfter) * 1000), &app, &QApplication::quit);

        status = QApplication::exec();
        // The client goes before the screens it may be working on.
        server.reset();
    }
    return status;
}
