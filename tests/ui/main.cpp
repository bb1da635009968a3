// Test driver for the screens: a widget application on the offscreen
// platform (unless the caller chose another), its event loop on this thread.
#include "widgets/PhoneStyle.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setFont(fieldmon::phone::systemFont(14));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
