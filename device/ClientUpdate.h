#pragma once
// ClientUpdate: one binding of the update scheduler. It ties a compiled
// expression to the widget that shows it: a notifier ("the values are in,
// evaluate and redraw") and a redraw request ("do you want a refresh now?",
// usually: is the page visible). The rate text says how often the binding
// comes due:
//
//   contains "once"          serviced once, then dropped; its requests are
//                            queued when it is scheduled
//   contains "load"          serviced at the first pass, then never due again
//   anything else            its leading decimal number, in seconds (a text
//                            without a number, a blank one too, gives 0)
//
// An element of a device's document that names no rate at all is bound
// with "load" (the reader's choice): one refresh when the page loads.
//
// The expression is usually a compiled expression (expr::Node); a
// table page binds its contents the same way (expr::Schedulable).
// The binding owns its expression and registers itself as the expression's
// binding (a plain back-reference the expression calls updateTarget() on);
// the destructor clears that back-reference again, but only if it is still
// ours. A new binding of the same expression takes it over: the expression
// will never tell the earlier binding again, so the scheduler retires that
// one (see UpdateScheduler).
//
// The notifier and redraw request are callables resolved once, when the
// binding is made; notifierFor()/redrawFor() make ones that keep their target
// alive.
//
// Reference cycle: the device record's scheduler holds its bindings, a binding
// holds its expression and (through the callables) its widget, and both hold
// the device record. UpdateScheduler::unscheduleAll() breaks it (a device's
// start page calls it when the user leaves the device's pages), and a "once"
// binding leaves the scheduler by itself once its notifier has run.
//
// Thread rule: main thread only.

#include "expr/Binding.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

namespace fieldmon {

namespace expr {
class Schedulable;
}

class ClientUpdate final : public expr::Binding {
public:
    using Notifier = std::function<void()>;
    using RedrawRequest = std::function<bool()>;

    static constexpr double kNever = std::numeric_limits<double>::infinity();

    struct Rate {
        bool scheduleOnce = false;
        double updateRate = kNever; // seconds; kNever when not periodic
    };
    // How a rate text schedules a binding (see the table above).
    static Rate parseUpdateRate(std::string_view text);

    // Due at `now`. The expression must not be null.
    ClientUpdate(std::shared_ptr<expr::Schedulable> compiledString, Notifier notifier, RedrawRequest redraw,
                 std::string_view updateRate, double now);
    ~ClientUpdate() override;

    ClientUpdate(const ClientUpdate&) = delete;
    ClientUpdate& operator=(const ClientUpdate&) = delete;

    void setRawUpdateRate(std::string_view text);
    const std::string& rawUpdateRate() const { return supdateRate_; }
    bool scheduleOnce() const { return scheduleOnce_; }
    double updateRate() const { return updateRate_; }

    // Next due = now + rate.
    void updateDate(double now) { date_ = now + updateRate_; }
    double nextUpdate() const { return date_; }
    const std::shared_ptr<expr::Schedulable>& clientData() const { return compiledString_; }

    bool needsReschedule() const { return !scheduleOnce_; }
    // Asks the widget whether it wants a refresh now; no redraw request: no.
    bool needsUpdate() const { return redraw_ && redraw_(); }
    // Runs the widget's notifier. The expression calls this when every value
    // it reads is present; constants are told at once when scheduled.
    void updateTarget() override;
    // How often updateTarget() has run.
    std::uint64_t timesTold() const { return told_; }
    // A later binding of the same expression took it over: never told again.
    bool retired() const { return retired_; }

    // Callables that keep `target` alive and call its method.
    template <class T>
    static Notifier notifierFor(std::shared_ptr<T> target, void (T::*method)())
    {
        return [target = std::move(target), method] { ((*target).*method)(); };
    }
    template <class T>
    static RedrawRequest redrawFor(std::shared_ptr<T> target, bool (T::*method)())
    {
        return [target = std::move(target), method] { return ((*target).*method)(); };
    }

private:
    friend class UpdateScheduler;

    std::shared_ptr<expr::Schedulable> compiledString_;
    Notifier notifier_;
    RedrawRequest redraw_;
    double date_;
    std::string supdateRate_;
    bool scheduleOnce_ = false;
    double updateRate_ = kNever;
    std::uint64_t told_ = 0;
    // The expression's binding before this one took it over; the scheduler
    // retires it when it files this one, and then clears this.
    expr::Binding* previous_ = nullptr;
    bool retired_ = false;
    // Set by the scheduler while a serviced "once" binding waits for its
    // values; runs after the notifier.
    std::function<void()> whenTold_;
    // Scheduler bookkeeping: the pass that last serviced this binding, so a
    // pass services each binding at most once.
    std::uint64_t servicedInPass_ = 0;
};

} // namespace fieldmon
