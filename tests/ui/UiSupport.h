#pragma once
// Helpers of the screen tests: waiting on the Qt event loop, pictures of
// widgets for a person to look at, captured standard output, and clicks on
// table rows.

#include "platform/Diagnostics.h"
#include "widgets/GroupedTableView.h"
#include "widgets/NavigationStack.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QPixmap>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

// Readable QStrings and JSON values in test failures.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QJsonValue& v, std::ostream* os)
{
    *os << QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).toStdString();
}

namespace fieldmon::test {

// Runs the event loop until `done` holds or `ms` have passed.
template <class Pred>
bool waitFor(Pred done, int ms = 3000)
{
    return QTest::qWaitFor(done, ms);
}

// Saves a picture of `w` as <shots>/<name>.png and returns its path, once
// any screen that is sliding in has arrived.
inline QString shot(QWidget* w, const QString& name)
{
    auto stacks = w->findChildren<NavigationStack*>();
    if (auto* self = qobject_cast<NavigationStack*>(w))
        stacks << self;
    for (NavigationStack* s : stacks)
        EXPECT_TRUE(waitFor([s] { return !s->isAnimating(); }, 2000));
    QDir().mkpath(QStringLiteral(FIELDMON_SHOT_DIR));
    QString path = QDir(QStringLiteral(FIELDMON_SHOT_DIR)).absoluteFilePath(name + ".png");
    EXPECT_TRUE(w->grab().save(path)) << path.toStdString();
    return path;
}

// A click in the middle of a row, as a finger or the mouse makes it.
inline void tapRow(GroupedTableView& table, IndexPath path)
{
    TableCell* cell = table.cellForRow(path);
    ASSERT_NE(cell, nullptr) << "no cell at " << path.section << "/" << path.row;
    QTest::mouseClick(cell, Qt::LeftButton, {}, cell->rect().center());
}

// Counts occurrences of `needle` in `text`.
inline int occurrences(const std::string& text, const std::string& needle)
{
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

// Captures what the code under test prints with printf (the app's screens;
// everything that writes through the diagnostics sink is read with a
// platform::DiagnosticCapture instead).
class StdoutCapture {
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        testing::internal::CaptureStdout();
    }
    ~StdoutCapture()
    {
        if (!taken_)
            take();
    }
    std::string take()
    {
        std::fflush(stdout);
        taken_ = true;
        return testing::internal::GetCapturedStdout();
    }

private:
    bool taken_ = false;
};

} // namespace fieldmon::test
