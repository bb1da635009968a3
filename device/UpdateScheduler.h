#pragma once
// UpdateScheduler: decides when each binding (ClientUpdate) of a device
// refreshes. Bindings wait in a binary min-heap ordered by due time. A chain
// of one-shot main-loop timers services them: each firing takes the earliest
// binding and every other one due within the next 0.05 s, sets the `time`
// variable, lets each due binding whose widget wants a refresh mark its
// remote values stale and queue its requests, sends everything queued as one
// batch, and arms the next timer for the earliest due time. So bindings due
// at nearly the same moment share one request datagram, and each firing
// costs a logarithmic heap step per serviced binding.
//
// Rules beyond that outline:
// - A pass services each binding at most once. A rate below 0.05 s (0
//   included) would otherwise come due again inside the look-ahead window
//   forever; such a binding is set aside until the pass ends, and the next
//   firing comes no sooner than 0.05 s later, so its effective period is
//   0.05 s and it cannot flood the device. Everything else keeps the 0.05 s
//   grouping.
// - There is one chain. start() while a chain is running restarts it (the
//   pending timer is replaced by one firing at once) instead of starting a
//   second chain that would double every request.
// - A "once" binding leaves the heap at its first service but is kept alive
//   until its notifier has run (its values may arrive after that service)
//   or until unscheduleAll().
// - A pass services the earliest binding even if it is not yet due: the
//   timer was set for it, and the first pass of a (re)started chain so
//   refreshes a "load" binding again. A timer is armed at most
//   kMaxTimerDelay ahead; one cut short by that limit re-arms instead.
// - A chain ends when the heap is empty or holds only bindings that are
//   never due again ("load"); unscheduleAll() ends it at once.
// - A binding of an expression that already has one takes the expression
//   over, and the earlier binding is retired: it leaves the heap (or the
//   "once" bindings waiting for their values) at once, since its expression
//   will never tell it again. A widget that binds one command at every tick
//   (the joystick) while the device answers slowly would otherwise pile up
//   bindings until unscheduleAll().
//
// Reference cycle: see ClientUpdate. The timer does not keep the device
// record alive: it reaches the record through a weak reference, and the
// scheduler cancels it when destroyed.
//
// Thread rule: main thread only. Bindings' callbacks may schedule, start and
// unschedule from inside a pass.

#include "device/ClientUpdate.h"
#include "platform/MainLoop.h"

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace fieldmon {

class UpdateScheduler {
public:
    static constexpr double kLookAhead = 0.05;
    // Timers are never armed further ahead than this; a binding due later is
    // reached by re-arming.
    static constexpr double kMaxTimerDelay = 24 * 3600.0;

    // What the scheduler needs of its device record.
    struct Link {
        // Sets the `time` variable (seconds since the record was created).
        std::function<void(double now)> setTime;
        // Sends the queued variable requests as one batch.
        std::function<void()> submitRequests;
        // Keeps the record alive during a pass; empty when it is going away.
        std::function<std::shared_ptr<void>()> retainOwner;
    };

    UpdateScheduler(platform::MainLoop& loop, Link link);
    ~UpdateScheduler();
    UpdateScheduler(const UpdateScheduler&) = delete;
    UpdateScheduler& operator=(const UpdateScheduler&) = delete;

    // A constant expression's widget is told at once and the binding is not
    // kept. Any other binding goes into the heap, due now, and its expression
    // queues its requests (they go out with the next batch). Adding bindings
    // does not start the chain.
    void schedule(std::shared_ptr<ClientUpdate> binding);
    // Binds a compiled expression to a widget and schedules the binding:
    // `notifier` runs when the expression's values are in, `redraw` answers
    // whether the widget wants a refresh now, `updateRate` is "once", "load"
    // or seconds (see ClientUpdate).
    void bind(std::shared_ptr<expr::Schedulable> expression, ClientUpdate::Notifier notifier,
              ClientUpdate::RedrawRequest redraw, std::string_view updateRate);
    // The same with target-and-method pairs; the binding keeps both targets alive.
    template <class N, class R>
    void bind(std::shared_ptr<expr::Schedulable> expression, std::shared_ptr<N> notifierTarget, void (N::*notifier)(),
              std::shared_ptr<R> redrawTarget, bool (R::*redraw)(), std::string_view updateRate)
    {
        bind(std::move(expression), ClientUpdate::notifierFor(std::move(notifierTarget), notifier),
             ClientUpdate::redrawFor(std::move(redrawTarget), redraw), updateRate);
    }
    // Sends the queued requests and (re)starts the chain with a timer of 0 s.
    void start();
    // Drops every binding and ends the chain.
    void unscheduleAll();
    // One timer firing (the chain's timer calls it).
    void service();

    std::size_t size() const { return heap_.size(); }
    bool running() const { return timer_ != 0; }
    // Due time of the earliest binding; +infinity with none.
    double nextDue() const;
    // "once" bindings serviced and still waiting for their values.
    std::size_t waitingOnce() const { return waitingOnce_.size(); }
    std::uint64_t passes() const { return pass_; }

private:
    using Entry = std::shared_ptr<ClientUpdate>;
    // A heap slot carries the due time it was filed under, so that sifting
    // compares slots without touching the bindings themselves (which, with
    // many bindings, are scattered over memory and would miss the cache).
    struct Slot {
        double due;
        Entry binding;
    };

    void push(Entry binding);
    Entry popEarliest();
    void serviceOne(Entry binding, std::uint64_t generation);
    void arm(double delay);
    // One firing; `cutShort`: woken by a timer the delay limit shortened.
    void pass(bool cutShort);
    void sweepWaitingOnce();
    // Takes `old` out of the heap and the waiting list (see the rules above).
    void retire(ClientUpdate* old);

    platform::MainLoop& loop_;
    Link link_;
    std::vector<Slot> heap_; // std::push_heap order, earliest at front
    std::vector<Entry> waitingOnce_;
    platform::MainLoop::TimerId timer_ = 0;
    // The timer's callback holds a weak reference to this token, so a timer
    // that fires after the scheduler is gone does nothing.
    std::shared_ptr<UpdateScheduler*> self_;
    std::uint64_t pass_ = 0;
    // Bumped by unscheduleAll(): a binding taken out before it is not put back.
    std::uint64_t generation_ = 0;
};

} // namespace fieldmon
