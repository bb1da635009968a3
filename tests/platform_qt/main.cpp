// Test driver for the Qt platform adapters: they need a Qt application
// object and its event loop on the main thread. The whole binary runs in a
// private network namespace (support/PrivateNetwork.h), entered before any
// thread exists, so that its HTTP servers own 127.0.0.1:80 there: no root is
// needed, and parallel runs of the suite never meet on the port.
#include "support/PrivateNetwork.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    fieldmon::test::privateNetworkProblem() = fieldmon::test::enterPrivateNetwork();
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
