#pragma once
// A device record for expression tests, and a way to see the diagnostics they wrote.

#include "device/Client.h"
#include "expr/Compiler.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "platform/Diagnostics.h"
#include "support/TestServices.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace fieldmon::test {

// Runs f and returns the diagnostics it wrote.
template <typename F>
std::string printedBy(F&& f)
{
    platform::DiagnosticCapture diagnostics;
    f();
    return diagnostics.take();
}

struct ExprTest : ::testing::Test {
    TestServices s;
    std::shared_ptr<Client> client = Client::create(false, s.services);

    expr::NodePtr compile(std::string_view text)
    {
        expr::NodePtr n;
        printedBy([&] { n = expr::Compiler::compile(client, text); });
        return n;
    }

    // Compiles and evaluates in the global environment, quietly.
    expr::Value value(std::string_view text)
    {
        expr::NodePtr n = compile(text);
        expr::Value v;
        printedBy([&] { v = n->eval(); });
        return v;
    }
};

} // namespace fieldmon::test
