#include "app/automation/Automation.h"

#include "app/automation/Commands.h"
#include "platform/Diagnostics.h"
#include "widgets/NavigationStack.h"

#include <QElapsedTimer>
#include <QTimer>

#include <memory>

namespace fieldmon::automation {

Automation::Automation(AppWindow& window, platform::DiagnosticLog* log, QObject* parent)
    : QObject(parent), context_(window), log_(log)
{
    addWindowCommands(commands_, context_);
    addInputCommands(commands_, context_);
    addTableCommands(commands_, context_);
    addPageCommands(commands_, context_);
    addTrendCommands(commands_, context_);
    addAlertCommands(commands_, context_);
    commands_[QStringLiteral("log")] = {[this](const Request& r, Answer& a) { this->log(r, a); }, true};
    commands_[QStringLiteral("quit")] = {[this](const Request& r, Answer& a) { quit(r, a); }, true};
}

Automation::~Automation() = default;

void Automation::run(const Request& request, Answer answer)
{
    auto it = commands_.find(request.command());
    if (it == commands_.end()) {
        answer(Reply::failure(QStringLiteral("unknown command \"%1\"").arg(request.command())));
        return;
    }
    const Command& command = it->second;
    // A command that acts, or takes a picture, waits for a slide that is
    // under way (a page that Connect pushed, say) to end first, so that it
    // touches or shows the screen where it comes to rest.
    if (!command.readsOnly && context_.reader().stack().isAnimating()) {
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        auto retry = std::make_shared<std::function<void()>>();
        *retry = [this, request, answer, run = command.run, started, weak = std::weak_ptr(retry)]() mutable {
            if (context_.reader().stack().isAnimating() && started->elapsed() < CommandContext::kSettleLimitMs) {
                if (auto again = weak.lock())
                    context_.later(CommandContext::kSettlePollMs, [again] { (*again)(); });
                return;
            }
            run(request, answer);
        };
        (*retry)();
        return;
    }
    command.run(request, answer);
}

void Automation::clientLeft()
{
    context_.clientLeft();
}

void Automation::log(const Request&, Answer& answer)
{
    if (!log_) {
        answer(Reply::failure(QStringLiteral("diagnostic output is not captured in this run")));
        return;
    }
    platform::DiagnosticLog::Taken taken = log_->take();
    QJsonArray lines;
    for (const std::string& line : taken.lines)
        lines.append(QString::fromUtf8(line));
    QJsonObject fields{{QStringLiteral("lines"), lines}};
    if (taken.dropped > 0)
        fields.insert(QStringLiteral("dropped"), static_cast<qint64>(taken.dropped));
    answer(Reply::success(fields));
}

void Automation::quit(const Request&, Answer& answer)
{
    answer(Reply::success());
    // After this command's answer has gone out, from the event loop.
    QTimer::singleShot(0, this, [this] { emit quitRequested(); });
}

} // namespace fieldmon::automation
