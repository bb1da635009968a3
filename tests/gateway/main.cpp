// The gateway's tests run under a QCoreApplication: the publisher's calls
// from libmosquitto's thread arrive through its event loop.
//
// Each run is in a private network namespace (support/PrivateNetwork.h),
// entered before any thread exists: a gateway program started here searches
// for devices by broadcast, which must not leave this machine, and brokers
// and servers started by tests running side by side never meet on a port
// (one test's broker, down on purpose, would otherwise find its port taken
// by another test's).
#include "support/PrivateNetwork.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    fieldmon::test::privateNetworkProblem() = fieldmon::test::enterPrivateNetwork();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
