// fieldmon: the hand-held monitor for networked field devices.
//
// The program keeps no settings. Its options and environment variables are
// in app/CommandLine.cpp (`fieldmon --help`); the command line is read before
// any GUI object exists, so that --help and --version need no display.

#include "app/AppWindow.h"
#include "app/CommandLine.h"
#include "app/AppShell.h"
#include "app/automation/Automation.h"
#include "app/automation/AutomationServer.h"
#include "platform/Diagnostics.h"
#include "platform/qt/SignalWatcher.h"
#include "widgets/PhoneStyle.h"

#include <QApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const fieldmon::CommandLine command = fieldmon::CommandLine::read(arguments);
    switch (command.outcome) {
    case fieldmon::CommandLine::Outcome::Help:
        std::fputs(qPrintable(fieldmon::CommandLine::helpText()), stdout);
        return 0;
    case fieldmon::CommandLine::Outcome::Version:
        std::fputs(qPrintable(fieldmon::CommandLine::versionText()), stdout);
        return 0;
    case fieldmon::CommandLine::Outcome::Bad:
        std::fprintf(stderr, "fieldmon: %s\n\n%s", qPrintable(command.error),
                     qPrintable(fieldmon::CommandLine::helpText()));
        return 2;
    case fieldmon::CommandLine::Outcome::Run:
        break;
    }
    const QString& socketPath = command.options.automationSocket;
    namespace automation = fieldmon::automation;
    // The copy of the diagnostic lines for the "log" command starts before
    // anything is written and ends after everything that writes has gone.
    std::unique_ptr<fieldmon::platform::DiagnosticLog> log;
    if (!socketPath.isEmpty()) {
        // A client that hangs up mid-reply must not end the app.
        std::signal(SIGPIPE, SIG_IGN);
        log = std::make_unique<fieldmon::platform::DiagnosticLog>();
    }

    QApplication app(argc, argv);
    // QApplication adopts the user's locale for the C library too. Numbers in
    // device documents, expressions ("%f") and rate texts are always written
    // with a decimal point, whatever language the technician's phone speaks.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setFont(fieldmon::phone::systemFont(14));

    std::unique_ptr<automation::AutomationServer> server;
    std::unique_ptr<fieldmon::platform::SignalWatcher> onSignal;
    if (!socketPath.isEmpty()) {
        QString error;
        server = automation::AutomationServer::create(socketPath, error);
        if (!server) {
            std::fprintf(stderr, "fieldmon: automation socket: %s\n", qPrintable(error));
            return 1;
        }
        // From the moment a client can connect, a signal ends the run cleanly.
        onSignal = std::make_unique<fieldmon::platform::SignalWatcher>([] { QApplication::quit(); });
    }

    int status = 0;
    {
        fieldmon::AppShell shell;
        fieldmon::AppShell::Settings settings;
        const QString& dataDir = command.options.dataDir;
        settings.dataFolder = dataDir.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                                                : dataDir;
        settings.exportFolder =
            dataDir.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) : dataDir;
        settings.staleMarks = command.options.staleMarks;
        shell.configure(settings);
        // Recording starts before the first search goes out.
        if (!command.options.recordPath.isEmpty())
            shell.recording().start(QFileInfo(command.options.recordPath).absoluteFilePath().toStdString());
        shell.launch();

        std::unique_ptr<automation::Automation> commands;
        if (server) {
            commands = std::make_unique<automation::Automation>(*shell.window(), log.get());
            commands->setShell(&shell);
            automation::Automation* run = commands.get();
            server->setHandler([run](const automation::Request& r, automation::Automation::Answer a) {
                run->run(r, std::move(a));
            });
            server->setClientLeft([run] { run->clientLeft(); });
            QObject::connect(run, &automation::Automation::quitRequested, &app, &QApplication::quit);
        }
        if (const auto quitAfter = command.options.quitAfter)
            QTimer::singleShot(static_cast<int>(*quitAfter * 1000), &app, &QApplication::quit);

        status = QApplication::exec();
        // The client goes before the screens it may be working on.
        server.reset();
    }
    return status;
}
