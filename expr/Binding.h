#pragma once
// Binding: what an expression tells when every remote value it reads is
// present. The update scheduler's bindings implement it; an expression holds
// its binding as a plain back-reference (the binding owns the expression and
// clears the back-reference, setClientUpdate(nullptr), before it goes away).
//
// Thread rule: main thread only.

namespace fieldmon::expr {

class Binding {
public:
    virtual ~Binding() = default;

    // Runs the widget's notifier: the expression's values are ready.
    virtual void updateTarget() = 0;
};

} // namespace fieldmon::expr
