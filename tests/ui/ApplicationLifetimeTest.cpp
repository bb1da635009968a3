// What widget classes keep for all their instances (the page button's
// pictures, the labels' fonts and shared layouts) ends with the application.
// They were function-local statics, destroyed at the process's exit after
// QApplication, when Qt's pictures and fonts must no longer be touched.
// Its own executable: it makes and ends applications itself.

#include "elements/label/LabelView.h"
#include "elements/button/PageButton.h"
#include "widgets/ApplicationCache.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace fieldmon;

TEST(ApplicationLifetime, WhatWidgetClassesKeepEndsWithTheApplicationAndComesBackWithTheNext)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int argc = 1;
    char name[] = "test_ui_lifetime";
    char* argv[] = {name, nullptr};
    for (int run = 0; run < 2; ++run) {
        {
            QApplication app(argc, argv);
            PageButton button;
            button.setText(QStringLiteral("Go"));
            LabelView label;
            label.resize(320, 35);
            label.setText(QStringLiteral("(nil)"));
            label.setLabelFont(LabelView::systemFont(20));
            EXPECT_FALSE(button.grab().isNull());
            EXPECT_FALSE(label.grab().isNull());
            EXPECT_EQ(ApplicationCaches::live(), 3) << "pictures, fonts and layouts (run " << run << ")";
        }
        EXPECT_EQ(ApplicationCaches::live(), 0) << "gone with the application (run " << run << ")";
    }
}
