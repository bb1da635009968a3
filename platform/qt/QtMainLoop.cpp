#include "platform/qt/QtMainLoop.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <mutex>

namespace fieldmon::platform {

// Guards the context pointer against a post() from another thread racing the
// loop's destruction: a post either reaches the context before it is gone or
// finds the gate closed and drops the task.
struct QtMainLoop::Gate {
    std::mutex mutex;
    QObject* context = nullptr;
};

QtMainLoop::QtMainLoop() : gate_(std::make_shared<Gate>())
{
    context_ = new QObject;
    timer_ = new QTimer(context_);
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, context_, [this] { fireDue(); });
    gate_->context = context_;
    clock_.start();
}

QtMainLoop::~QtMainLoop()
{
    {
        std::lock_guard lock(gate_->mutex);
        gate_->context = nullptr;
    }
    // Deleting the context discards its queued invocations; destroying each
    // task releases a postAndWait caller that still waits for it.
    delete context_;
    timers_.clear();
}

void QtMainLoop::post(Task fn)
{
    std::lock_guard lock(gate_->mutex);
    if (!gate_->context)
        return; // dropped; destroying fn releases a waiter
    QMetaObject::invokeMethod(
        gate_->context, [task = std::move(fn)]() mutable { task(); }, Qt::QueuedConnection);
}

MainLoop::TimerId QtMainLoop::after(double seconds, Task fn)
{
    if (!(seconds > 0))
        seconds = 0;
    TimerId id = timers_.add(now() + seconds, std::move(fn));
    rearm();
    return id;
}

void QtMainLoop::cancel(TimerId id)
{
    timers_.cancel(id);
    rearm();
}

double QtMainLoop::now() const
{
    return static_cast<double>(clock_.nsecsElapsed()) / 1e9;
}

bool QtMainLoop::isMainThread() const
{
    return QThread::currentThread() == context_->thread();
}

void QtMainLoop::rearm()
{
    auto next = timers_.nextDue();
    if (!next) {
        timer_->stop();
        return;
    }
    double wait = std::max(0.0, *next - now());
    // Round up so the timer never wakes before the due time and spins.
    timer_->start(static_cast<int>(std::ceil(wait * 1000.0)));
}

void QtMainLoop::fireDue()
{
    // One timer per pass: a timer's task may add or cancel timers, and Qt
    // events (posted tasks among them) get their turn between two timers.
    if (auto due = timers_.popDue(now())) {
        rearm();
        due->second();
        return;
    }
    rearm();
}

} // namespace fieldmon::platform
