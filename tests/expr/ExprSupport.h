#pragma once
// A device record for expression tests, and a way to see what was printed.

#include "device/Client.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "support/TestServices.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace fieldmon::test {

// Runs f and returns what it wrote to standard output.
template <typename F>
std::string printedBy(F&& f)
{
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

struct ExprTest : ::testing::Test {
    TestServices s;
    std::shared_ptr<Client> client = Client::create(false, s.services);

    expr::NodePtr compile(std::string_view text)
    {
        expr::NodePtr n;
        printedBy([&] { n = client->compileString(text); });
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
