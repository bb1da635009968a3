#include "app/CommandLine.h"

#include "FieldmonVersion.h"

#include <QCommandLineParser>

namespace fieldmon {

namespace {

// One option: its names (the first is the one the code reads), the name of
// its value (none for a switch) and one sentence of help. Qt's options are
// shown with one dash, as Qt documents them; ours with two.
struct OptionRow {
    QStringList names;
    QString valueName;
    QString help;
};

const OptionRow kOptions[] = {
    {{"automation"}, "PATH",
     "Serve the automation socket at PATH, through which scripts read and drive the screens (the "
     "app will not start when PATH is in use); SIGTERM and SIGINT then end the app cleanly."},
    {{"data-dir"}, "DIR",
     "Keep the value history (history.sqlite) in DIR and write CSV exports and the Record switch's "
     "captures there, instead of the platform's data and documents folders."},
    {{"no-stale-marks"}, {},
     "Do not dim values that have stopped being refreshed (the link dot still turns red)."},
    {{"record"}, "FILE",
     "Record every datagram the app sends and receives, and every file it fetches, to the pcapng capture FILE "
     "(replaced; at most 1 GiB), for Wireshark and fieldsim --replay."},
    {{"h", "help"}, {}, "Show this help and exit."},
    {{"v", "version"}, {}, "Show the version and exit."},
};

// Qt's options that the app passes on to Qt.
const OptionRow kQtOptions[] = {
    {{"platform"}, "NAME[:OPTIONS]",
     "Draw through Qt's platform plugin NAME: xcb, wayland, vnc (vnc:size=320x480:port=5900), "
     "linuxfb (linuxfb:fb=/dev/fb0), eglfs or offscreen."},
    {{"plugin"}, "NAME", "Load Qt's input plugin NAME, e.g. evdevtouch for a touch panel under linuxfb or eglfs."},
    {{"display"}, "DISPLAY", "The X display to use (xcb)."},
};

struct EnvironmentRow {
    QString name;
    QString help;
};

const EnvironmentRow kEnvironment[] = {
    {"FIELDMON_AUTOMATION=PATH", "As --automation PATH, which wins over it."},
    {"FIELDMON_QUIT_AFTER=SECONDS", "End the run by itself after SECONDS (scripts, demos)."},
    {"QT_QPA_PLATFORM=NAME[:OPTIONS]", "As -platform, which wins over it."},
    {"QT_QPA_FB_HIDECURSOR=1", "Hide the pointer on a framebuffer (linuxfb, eglfs), as on a touch panel."},
};

constexpr int kTermWidth = 79;
constexpr int kHelpColumn = 32;

// `help` wrapped at word boundaries into lines that start at kHelpColumn,
// the first after `head` (or on a line of its own when `head` is too long).
QString tableEntry(const QString& head, const QString& help)
{
    QString out = head;
    auto newLine = [&out] { out += '\n' + QString(kHelpColumn, ' '); };
    if (out.size() >= kHelpColumn - 1)
        newLine();
    else
        out += QString(kHelpColumn - out.size(), ' ');
    int column = kHelpColumn;
    bool first = true;
    for (const QString& word : help.split(' ', Qt::SkipEmptyParts)) {
        if (!first && column + 1 + word.size() > kTermWidth) {
            newLine();
            column = kHelpColumn;
            first = true;
        }
        if (!first) {
            out += ' ';
            ++column;
        }
        out += word;
        column += static_cast<int>(word.size());
        first = false;
    }
    return out + '\n';
}

QString optionHead(const OptionRow& row, const QString& longDash)
{
    QStringList names;
    for (const QString& n : row.names)
        names << (n.size() == 1 ? "-" : longDash) + n;
    QString head = "  " + names.join(", ");
    if (!row.valueName.isEmpty())
        head += ' ' + row.valueName;
    return head;
}

QCommandLineOption parserOption(const OptionRow& row)
{
    if (row.valueName.isEmpty())
        return QCommandLineOption(row.names, row.help);
    return QCommandLineOption(row.names, row.help, row.valueName);
}

} // namespace

CommandLine CommandLine::read(const QStringList& arguments)
{
    CommandLine result;
    auto bad = [&result](const QString& why) {
        result.outcome = Outcome::Bad;
        result.error = why;
        return result;
    };

    QCommandLineParser parser;
    // Qt's options come with one dash ("-platform vnc"); so may ours.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionRow& row : kOptions)
        parser.addOption(parserOption(row));
    for (const OptionRow& row : kQtOptions)
        parser.addOption(parserOption(row));
    if (!parser.parse(arguments))
        return bad(parser.errorText());
    // The parser would take "-platform=vnc", but Qt reads only "-platform vnc"
    // and would stop on a display it cannot open.
    for (const OptionRow& row : kQtOptions)
        for (const char* dashes : {"-", "--"})
            for (const QString& argument : arguments)
                if (argument.startsWith(QLatin1String(dashes) + row.names.first() + '='))
                    return bad(QString("write -%1 %2, with a space: Qt takes no '='")
                                   .arg(row.names.first(), row.valueName));
    if (!parser.positionalArguments().isEmpty())
        return bad(QString("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet("help")) {
        result.outcome = Outcome::Help;
        return result;
    }
    if (parser.isSet("version")) {
        result.outcome = Outcome::Version;
        return result;
    }

    StartOptions& options = result.options;
    options.automationSocket = parser.isSet("automation") ? parser.value("automation")
                                                          : qEnvironmentVariable("FIELDMON_AUTOMATION");
    if (parser.isSet("automation") && options.automationSocket.isEmpty())
        return bad("--automation needs a socket path");
    if (parser.isSet("data-dir")) {
        options.dataDir = parser.value("data-dir");
        if (options.dataDir.isEmpty())
            return bad("--data-dir needs a folder");
    }
    options.staleMarks = !parser.isSet("no-stale-marks");
    if (parser.isSet("record")) {
        options.recordPath = parser.value("record");
        if (options.recordPath.isEmpty())
            return bad("--record needs a file name");
    }
    if (qEnvironmentVariableIsSet("FIELDMON_QUIT_AFTER")) {
        bool ok = false;
        const double seconds = qEnvironmentVariable("FIELDMON_QUIT_AFTER").toDouble(&ok);
        if (!ok || seconds < 0)
            return bad("FIELDMON_QUIT_AFTER must be a number of seconds");
        options.quitAfter = seconds;
    }
    return result;
}

QString CommandLine::helpText()
{
    QString text = "Usage: fieldmon [OPTIONS]\n"
                   "The hand-held monitor and remote control for networked field devices: finds\n"
                   "the devices on the local IPv4 network by broadcast, lists them, and shows each\n"
                   "device's identity, event log and its own control pages.\n"
                   "\nOptions:\n";
    for (const OptionRow& row : kOptions)
        text += tableEntry(optionHead(row, "--"), row.help);
    text += "\nQt's options, passed on to Qt:\n";
    for (const OptionRow& row : kQtOptions)
        text += tableEntry(optionHead(row, "-"), row.help);
    text += "\nEnvironment:\n";
    for (const EnvironmentRow& row : kEnvironment)
        text += tableEntry("  " + row.name, row.help);
    return text;
}

QString CommandLine::versionText()
{
    return QString("fieldmon %1\n").arg(kVersion);
}

} // namespace fieldmon
