#pragma once
// Expressions: the part of a device record that belongs to the expression
// language: the record's global environment and the value nodes of the
// predefined variables in it.
//
//   pi                          double 3.141592653589793
//   true, TRUE, yes, YES        integer 1 (one node shared by the four names)
//   false, FALSE, no, NO        integer 0 (one node shared by the four names)
//   touchx, touchy              doubles, 0.5 until a touch moves them
//   service                     integer 1 or 0, following the service flag
//   time                        double, seconds since the record was created,
//                               set by each pass of the update scheduler
//
// The nodes are made without a device record (they are constants), so the
// record holding this component makes no cycle with them. Expressions read
// the nodes anew at every evaluation, so a change is seen at once.
//
// Thread rule: main thread only.

#include <memory>

namespace fieldmon::expr {

class Node;
class Scope;

class Expressions {
public:
    Expressions();
    ~Expressions();
    Expressions(const Expressions&) = delete;
    Expressions& operator=(const Expressions&) = delete;

    const std::shared_ptr<Scope>& environment() const { return environment_; }

    void setTouchX(double x);
    void setTouchY(double y);
    void setService(bool on);
    void setTime(double seconds);
    double touchX() const;
    double touchY() const;
    double time() const;

private:
    std::shared_ptr<Scope> environment_;
    std::shared_ptr<Node> touchX_;
    std::shared_ptr<Node> touchY_;
    std::shared_ptr<Node> serviceData_;
    std::shared_ptr<Node> varTime_;
};

} // namespace fieldmon::expr
