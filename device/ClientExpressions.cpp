// Client's operations of the expression language: compiling expression texts
// for this device, and its global environment with the predefined variables.
#include "device/Client.h"

#include "expr/Scope.h"
#include "expr/Compiler.h"
#include "expr/Expressions.h"

namespace fieldmon {

std::shared_ptr<expr::Node> Client::compileString(std::string_view text)
{
    return expr::Compiler::compile(shared_from_this(), text);
}

std::vector<std::string> Client::splitArguments(std::string_view text)
{
    return expr::Compiler::splitArguments(text);
}

const std::shared_ptr<expr::Scope>& Client::environment() const
{
    return expressions_->environment();
}

void Client::setTouchX(double x)
{
    expressions_->setTouchX(x);
}

void Client::setTouchY(double y)
{
    expressions_->setTouchY(y);
}

void Client::setVarTime(double seconds)
{
    expressions_->setTime(seconds);
}

double Client::touchX() const
{
    return expressions_->touchX();
}

double Client::touchY() const
{
    return expressions_->touchY();
}

double Client::varTime() const
{
    return expressions_->time();
}

} // namespace fieldmon
