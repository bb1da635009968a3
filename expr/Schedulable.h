#pragma once
// Schedulable: what the update scheduler asks of the expression a binding
// refreshes. Compiled expressions (Node) are the usual kind; a table
// page's contents are another (their rows are read in stages: counts, then
// range bounds, then the rows' texts), so the scheduler and the request
// machinery see them through this interface rather than through the node
// class.
//
//   isConst()                        nothing to fetch, ever: the binding's
//                                    notifier runs once and it is not kept
//   invalidateRemoteVariableValues() marks the values read as stale; true
//                                    when something must be fetched again
//   queueVariableRequests()          (Requester) queues what is missing, or
//                                    tells the binding when nothing is
//   setClientUpdate(), clientUpdate()
//                                    the binding to tell (a plain
//                                    back-reference; the binding clears it
//                                    before it goes away)
//
// Thread rule: main thread only.

#include "variables/Requester.h"

namespace fieldmon::expr {

class Binding;

class Schedulable : public Requester {
public:
    virtual bool isConst() const = 0;
    virtual bool invalidateRemoteVariableValues() = 0;
    virtual void setClientUpdate(Binding* binding) = 0;
    virtual Binding* clientUpdate() const = 0;
};

} // namespace fieldmon::expr
