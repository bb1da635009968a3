#include "device/UpdateScheduler.h"

#include "expr/Schedulable.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace fieldmon {

namespace {

// std::push_heap builds a max-heap; "later due" as "less" puts the earliest
// due binding at the front. Due times are never NaN (rates are parsed
// numbers), so this is a strict weak order.
template <class S>
bool dueLater(const S& a, const S& b)
{
    return a.due > b.due;
}

} // namespace

UpdateScheduler::UpdateScheduler(platform::MainLoop& loop, Link link)
    : loop_(loop), link_(std::move(link)), self_(std::make_shared<UpdateScheduler*>(this))
{
}

UpdateScheduler::~UpdateScheduler()
{
    if (timer_)
        loop_.cancel(timer_);
    self_.reset();
    // Bindings go last, with the scheduler already empty: their widgets'
    // destructors may call back into the record.
    auto heap = std::move(heap_);
    auto waiting = std::move(waitingOnce_);
    heap_.clear();
    waitingOnce_.clear();
}

double UpdateScheduler::nextDue() const
{
    return heap_.empty() ? ClientUpdate::kNever : heap_.front().due;
}

void UpdateScheduler::push(Entry binding)
{
    double due = binding->nextUpdate();
    heap_.push_back(Slot{due, std::move(binding)});
    std::push_heap(heap_.begin(), heap_.end(), dueLater<Slot>);
}

UpdateScheduler::Entry UpdateScheduler::popEarliest()
{
    std::pop_heap(heap_.begin(), heap_.end(), dueLater<Slot>);
    Entry e = std::move(heap_.back().binding);
    heap_.pop_back();
    return e;
}

void UpdateScheduler::bind(std::shared_ptr<expr::Schedulable> expression, ClientUpdate::Notifier notifier,
                           ClientUpdate::RedrawRequest redraw, std::string_view updateRate)
{
    schedule(std::make_shared<ClientUpdate>(std::move(expression), std::move(notifier), std::move(redraw), updateRate,
                                            loop_.now()));
}

void UpdateScheduler::schedule(Entry binding)
{
    if (auto* old = dynamic_cast<ClientUpdate*>(std::exchange(binding->previous_, nullptr)))
        retire(old);
    const auto& expression = binding->clientData();
    if (expression->isConst()) {
        // Told once, synchronously; the binding ends with this call.
        binding->updateTarget();
        return;
    }
    push(binding);
    if (expression->invalidateRemoteVariableValues())
        expression->queueVariableRequests();
}

void UpdateScheduler::start()
{
    link_.submitRequests();
    if (timer_)
        loop_.cancel(timer_);
    timer_ = 0;
    arm(0);
}

void UpdateScheduler::unscheduleAll()
{
    ++generation_;
    if (timer_)
        loop_.cancel(timer_);
    timer_ = 0;
    auto heap = std::move(heap_);
    auto waiting = std::move(waitingOnce_);
    heap_.clear();
    waitingOnce_.clear();
    // `heap` and `waiting` release the bindings here, with our state already
    // consistent, in case a widget's destructor calls back.
}

void UpdateScheduler::arm(double delay)
{
    std::weak_ptr<UpdateScheduler*> self = self_;
    // A timer cut short by the delay limit wakes before its binding is due.
    const bool cutShort = delay > kMaxTimerDelay;
    timer_ = loop_.after(std::clamp(delay, 0.0, kMaxTimerDelay), [self, cutShort] {
        if (auto s = self.lock())
            (*s)->pass(cutShort);
    });
}

void UpdateScheduler::serviceOne(Entry binding, std::uint64_t generation)
{
    if (binding->retired())
        return;
    binding->servicedInPass_ = pass_;
    binding->updateDate(loop_.now());
    if (!binding->needsReschedule()) {
        // A "once" binding: its requests went out when it was scheduled; it
        // only waits for its values now, outside the heap.
        if (binding->timesTold() != 0)
            return;
        // Let go of it soon after its notifier has run: not inside the call,
        // which comes from the expression while it is still at work.
        std::weak_ptr<UpdateScheduler*> self = self_;
        binding->whenTold_ = [self, &loop = loop_] {
            loop.post([self] {
                if (auto s = self.lock())
                    (*s)->sweepWaitingOnce();
            });
        };
        waitingOnce_.push_back(std::move(binding));
        return;
    }
    push(binding);
    if (!binding->needsUpdate() || generation != generation_)
        return;
    const auto& expression = binding->clientData();
    if (expression->invalidateRemoteVariableValues())
        expression->queueVariableRequests();
}

void UpdateScheduler::sweepWaitingOnce()
{
    std::erase_if(waitingOnce_, [](const Entry& e) { return e->timesTold() != 0 || e->retired(); });
}

void UpdateScheduler::retire(ClientUpdate* old)
{
    // Marked first: a pass that holds it outside the heap right now drops it.
    old->retired_ = true;
    std::vector<Entry> gone;
    for (auto it = waitingOnce_.begin(); it != waitingOnce_.end();)
        if (it->get() == old) {
            gone.push_back(std::move(*it));
            it = waitingOnce_.erase(it);
        } else {
            ++it;
        }
    const auto slot = std::find_if(heap_.begin(), heap_.end(), [old](const Slot& s) { return s.binding.get() == old; });
    if (slot != heap_.end()) {
        gone.push_back(std::move(slot->binding));
        heap_.erase(slot);
        std::make_heap(heap_.begin(), heap_.end(), dueLater<Slot>);
    }
    // `gone` releases them here, with the heap consistent again: a widget's
    // destructor may call back.
}

void UpdateScheduler::service()
{
    pass(false);
}

void UpdateScheduler::pass(bool cutShort)
{
    // Called by the chain's own timer (whose id is then spent, and cancelling
    // it does nothing) or directly: either way this pass arms the one next timer.
    if (timer_)
        loop_.cancel(timer_);
    timer_ = 0;
    // Widgets may drop the device record from inside this pass; keep it (and
    // so this scheduler) alive until the pass is over.
    auto owner = link_.retainOwner ? link_.retainOwner() : nullptr;
    sweepWaitingOnce();
    if (heap_.empty())
        return; // the chain ends

    const double now = loop_.now();
    const std::uint64_t generation = generation_;
    ++pass_;
    link_.setTime(now);

    // The earliest binding is serviced even if it is not yet due: the timer
    // was set for it, or the chain has just been (re)started, which so
    // refreshes a "load" binding too although it is never due again. Only a
    // timer that the delay limit cut short re-arms for the rest of the wait.
    const double earliest = heap_.front().due;
    if (cutShort && earliest > now) {
        arm(earliest - now);
        return;
    }
    serviceOne(popEarliest(), generation);
    std::vector<Entry> setAside;
    while (!heap_.empty() && generation == generation_) {
        double diff = heap_.front().due - now;
        if (!(diff < kLookAhead))
            break;
        Entry next = popEarliest();
        if (next->servicedInPass_ == pass_)
            setAside.push_back(std::move(next)); // a rate below the look-ahead
        else
            serviceOne(std::move(next), generation);
    }
    if (generation == generation_)
        for (auto& e : setAside)
            if (!e->retired())
                push(std::move(e));

    link_.submitRequests();

    if (heap_.empty() || timer_ != 0)
        return; // ended, or a callback restarted the chain meanwhile
    double due = heap_.front().due;
    if (due == ClientUpdate::kNever)
        return; // only "load" bindings left: nothing will come due again
    double delay = due - now; // -infinity for a negative infinite rate: at once
    if (heap_.front().binding->servicedInPass_ == pass_)
        delay = std::max(delay, kLookAhead);
    arm(delay);
}

} // namespace fieldmon
