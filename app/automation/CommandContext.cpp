#include "app/automation/CommandContext.h"

#include "app/AppWindow.h"
#include "widgets/NavigationStack.h"
#include "widgets/Screen.h"

#include <QElapsedTimer>
#include <QTimer>

#include <memory>

namespace fieldmon::automation {

void CommandContext::clientLeft()
{
    ++generation_;
    input_.release();
}

void CommandContext::later(int ms, std::function<void()> fn)
{
    unsigned generation = generation_;
    QTimer::singleShot(ms, &timers_, [this, generation, fn = std::move(fn)] {
        if (generation == generation_)
            fn();
    });
}

void CommandContext::settle(Answer answer, QJsonObject fields)
{
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    auto check = std::make_shared<std::function<void()>>();
    *check = [this, answer = std::move(answer), fields = std::move(fields), started, weak = std::weak_ptr(check)] {
        Screen* top = reader_.top();
        bool moving = reader_.stack().isAnimating() || (top && top->automationSettling());
        if (moving && started->elapsed() < kSettleLimitMs) {
            if (auto again = weak.lock())
                later(kSettlePollMs, [again] { (*again)(); });
            return;
        }
        answer(Reply::success(fields));
    };
    (*check)();
}

bool CommandContext::argsOk(const Args& args, Answer& answer)
{
    if (args.ok())
        return true;
    answer(Reply::failure(args.error()));
    return false;
}

CommandContext::Pointer CommandContext::pointerOf(Args& args)
{
    QString name = args.choice("pointer", {"touch", "mouse"}, "touch");
    return name == QLatin1String("mouse") ? Pointer::Mouse : Pointer::Touch;
}

bool CommandContext::readyForPointer(const Args& args, Answer& answer) const
{
    if (!argsOk(args, answer))
        return false;
    if (input_.isDown()) {
        answer(Reply::failure(QStringLiteral("a pointer is down; release it first")));
        return false;
    }
    return true;
}

std::optional<QPointF> CommandContext::toWindow(QPointF page, Answer& answer) const
{
    QPointF at = page + reader_.pageOrigin();
    QRectF inside(QPointF(0, 0), reader_.window().size());
    if (!inside.contains(at)) {
        answer(Reply::failure(QStringLiteral("(%1, %2) lies outside the window").arg(page.x()).arg(page.y())));
        return std::nullopt;
    }
    return at;
}

void CommandContext::tapWidget(QWidget* widget, Pointer pointer)
{
    tapWidget(widget, pointer, QPointF(widget->width() / 2.0, widget->height() / 2.0));
}

void CommandContext::tapWidget(QWidget* widget, Pointer pointer, QPointF at)
{
    QWidget* top = widget->window();
    input_.tap(top->windowHandle(), widget->mapTo(top, at), pointer);
}

void CommandContext::runDrag(QPointF from, QPointF to, int ms, Pointer pointer, std::function<void()> then)
{
    input_.press(reader_.window().windowHandle(), from + reader_.pageOrigin(), pointer);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto step = std::make_shared<std::function<void()>>();
    *step = [this, from, to, ms, clock, then = std::move(then), weak = std::weak_ptr(step)] {
        if (!input_.isDown())
            return; // let go by someone else (the client left)
        double t = ms <= 0 ? 1.0 : std::min(1.0, static_cast<double>(clock->elapsed()) / ms);
        input_.move(from + (to - from) * t + reader_.pageOrigin());
        if (t < 1.0) {
            if (auto again = weak.lock())
                later(kStepMs, [again] { (*again)(); });
            return;
        }
        input_.release();
        then();
    };
    later(kStepMs, [step] { (*step)(); });
}

void CommandContext::runDrags(std::vector<AutomationDrag> drags, Pointer pointer, std::function<void()> then)
{
    if (drags.empty()) {
        then();
        return;
    }
    AutomationDrag first = drags.front();
    drags.erase(drags.begin());
    runDrag(first.from, first.to, first.ms, pointer, [this, drags = std::move(drags), pointer, then = std::move(then)] {
        // The next drag starts once the list has come to rest after this one.
        auto rest = std::make_shared<std::function<void()>>();
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        *rest = [this, drags, pointer, then, started, weak = std::weak_ptr(rest)] {
            Screen* top = reader_.top();
            if (top && top->automationSettling() && started->elapsed() < kSettleLimitMs) {
                if (auto again = weak.lock())
                    later(kSettlePollMs, [again] { (*again)(); });
                return;
            }
            runDrags(drags, pointer, then);
        };
        (*rest)();
    });
}

} // namespace fieldmon::automation
