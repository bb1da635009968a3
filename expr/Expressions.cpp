#include "expr/Expressions.h"

#include "expr/Scope.h"

namespace fieldmon::expr {

Expressions::Expressions() : environment_(Scope::createGlobal())
{
    environment_->setVariable("pi", Node::real(nullptr, 3.141592653589793));

    NodePtr yes = Node::integer(nullptr, 1);
    for (const char* name : {"true", "TRUE", "yes", "YES"})
        environment_->setVariable(name, yes);
    NodePtr no = Node::integer(nullptr, 0);
    for (const char* name : {"FALSE", "false", "no", "NO"})
        environment_->setVariable(name, no);

    touchX_ = Node::real(nullptr, 0.5);
    environment_->setVariable("touchx", touchX_);
    touchY_ = Node::real(nullptr, 0.5);
    environment_->setVariable("touchy", touchY_);
    serviceData_ = Node::integer(nullptr, 0);
    environment_->setVariable("service", serviceData_);
    varTime_ = Node::real(nullptr, 0.0);
    environment_->setVariable("time", varTime_);
}

Expressions::~Expressions() = default;

void Expressions::setTouchX(double x)
{
    touchX_->setDouble(x);
}

void Expressions::setTouchY(double y)
{
    touchY_->setDouble(y);
}

void Expressions::setService(bool on)
{
    serviceData_->setInteger(on ? 1 : 0);
}

void Expressions::setTime(double seconds)
{
    varTime_->setDouble(seconds);
}

double Expressions::touchX() const
{
    return touchX_->doubleValue();
}

double Expressions::touchY() const
{
    return touchY_->doubleValue();
}

double Expressions::time() const
{
    return varTime_->doubleValue();
}

} // namespace fieldmon::expr
