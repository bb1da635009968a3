// The input widgets of a device page: what the device receives from a
// switch, a text field and a thumbwheel, byte for byte and only when the
// user acts; the switch's hold-off in virtual time; the picker's widths and
// placeholders; and the automation interface turning a picker as a finger.

#include "app/automation/Automation.h"
#include "elements/switch/RemoteBool.h"
#include "elements/picker/RemotePicker.h"
#include "elements/textfield/RemoteTextField.h"
#include "ui/PageRig.h"
#include "widgets/PickerColumn.h"
#include "widgets/PickerView.h"
#include "widgets/TextField.h"
#include "widgets/ToggleSwitch.h"

#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace fieldmon;
using test::PageRig;

namespace {

std::string page(const std::string& widgets, const std::string& head = "")
{
    return "<device>" + head + "<start initial='main'/><page name='main'>" + widgets + "</page></device>";
}

// Datagrams that are commands ("c…"), leaving out variable requests.
std::vector<std::string> commandsIn(const std::vector<std::string>& datagrams)
{
    std::vector<std::string> out;
    for (const auto& d : datagrams)
        if (!d.empty() && d[0] == 'c')
            out.push_back(d);
    return out;
}

struct Inputs : PageRig {
    std::shared_ptr<DevicePage> p;

    Inputs()
    {
        // Text fields take the focus only in the active window.
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    template <class W>
    std::shared_ptr<W> openOne(const std::string& doc)
    {
        p = open(doc);
        EXPECT_TRUE(p);
        return p ? widgetAt<W>(*p, 0) : nullptr;
    }
    // Commands that reached the device since the last call, answering the
    // variable requests made on the way.
    std::vector<std::string> commands()
    {
        answerAll();
        return commandsIn(sent.empty() ? received() : std::exchange(sent, {}));
    }
};

// A wheel turned with the mouse wheel, `notches` rows down.
void turn(PickerColumn* column, int notches)
{
    QPointF at = column->rect().center();
    for (int i = 0; i < notches; ++i) {
        QWheelEvent e(at, column->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(column, &e);
    }
}

} // namespace

// --- Switch ------------------------------------------------------------------

TEST_F(Inputs, ASwitchIsOnWhenMadeAndSendsOnlyWhenTheUserFlipsIt)
{
    RemoteBool fresh(compile("\"x \" + state"), client);
    EXPECT_TRUE(fresh.switchObj()->isChecked()) << "a switch created and not yet updated is on";

    // The device says off ("F") at every refresh: that moves the switch and sends nothing.
    auto sw = openOne<RemoteBool>(page(R"(<bool command='"pump " + state' refresh='1'>touchx > 0.7 ? "C" : "F"</bool>)"));
    ASSERT_TRUE(sw);
    run(1.5);
    EXPECT_FALSE(sw->switchObj()->isChecked());
    EXPECT_TRUE(commands().empty()) << "updates and creation send nothing";

    QTest::mouseClick(sw->switchObj(), Qt::LeftButton);
    EXPECT_EQ(commands(), std::vector<std::string>{"cpump 1\n"});
    run(6);
    ASSERT_FALSE(sw->switchObj()->isChecked()) << "the device's off, once the hold-off ended";
    QTest::mouseClick(sw->switchObj(), Qt::LeftButton);
    EXPECT_EQ(commands(), std::vector<std::string>{"cpump 1\n"});
    QTest::mouseClick(sw->switchObj(), Qt::LeftButton);
    EXPECT_EQ(commands(), std::vector<std::string>{"cpump 0\n"});
}

TEST_F(Inputs, ACommandReadingTheDeviceIsBuiltFromFreshValuesAndEachFlipKeepsItsOwnState)
{
    // Two quick flips before the device answered once sent "off" twice: both
    // commands shared one `state`, set again by the second flip.
    auto sw = openOne<RemoteBool>(page(R"(<bool command='printf("pump %d %d", state, temp)'/>)"));
    ASSERT_TRUE(sw);
    run(0.5);
    commands();
    QTest::mouseClick(sw->switchObj(), Qt::LeftButton);
    QTest::mouseClick(sw->switchObj(), Qt::LeftButton);
    auto asked = received();
    EXPECT_FALSE(asked.empty());
    EXPECT_TRUE(commandsIn(asked).empty()) << "nothing before temp's value is in";
    for (const auto& d : asked)
        answer(d);
    sent.clear();
    EXPECT_EQ(commands(), (std::vector<std::string>{"cpump 0 50462976\n", "cpump 1 50462976\n"}));
}

TEST_F(Inputs, ATouchHoldsDeviceUpdatesOffForFiveSecondsAndEveryTouchStartsThemAgain)
{
    auto sw = openOne<RemoteBool>(page(R"(<bool command='"pump " + state' refresh='0.5'>touchx > 0.7 ? "C" : "F"</bool>)"));
    ASSERT_TRUE(sw);
    run(1);
    ASSERT_FALSE(sw->switchObj()->isChecked());

    QTest::mouseClick(sw->switchObj(), Qt::LeftButton); // t = 0: on
    ASSERT_TRUE(sw->isToggling());
    run(2);
    EXPECT_TRUE(sw->switchObj()->isChecked()) << "an update 2 s after the touch is ignored";
    run(4);
    EXPECT_FALSE(sw->switchObj()->isChecked()) << "the update 6 s after the touch applies";
    EXPECT_FALSE(sw->isToggling());

    // A second touch at 3 s (down, then up away from the switch: no flip)
    // held off until 8 s; the first touch's timer used to end it at 5 s.
    QTest::mouseClick(sw->switchObj(), Qt::LeftButton); // on again
    run(3);
    QTest::mousePress(sw->switchObj(), Qt::LeftButton);
    QTest::mouseRelease(sw->switchObj(), Qt::LeftButton, {}, QPoint(-50, -50));
    run(4.5);
    EXPECT_TRUE(sw->switchObj()->isChecked()) << "7.5 s after the first touch, 4.5 s after the second";
    run(1);
    EXPECT_FALSE(sw->switchObj()->isChecked());
    EXPECT_EQ(commands(), (std::vector<std::string>{"cpump 1\n", "cpump 1\n"}));
}

TEST_F(Inputs, ADisabledSwitchTakesNoTouchAndStateTextsAreExact)
{
    auto sw = openOne<RemoteBool>(page(R"(<bool command='"a " + state' enabled='touchy > 0.7'>touchx</bool>)"));
    ASSERT_TRUE(sw);
    run(0.5);
    EXPECT_FALSE(sw->switchObj()->isEnabled());
    QTest::mouseClick(sw->switchObj(), Qt::LeftButton);
    EXPECT_TRUE(commands().empty());
    // It was drawn exactly like an enabled one.
    const QImage disabled = sw->switchObj()->grab().toImage();
    sw->switchObj()->setEnabled(true);
    EXPECT_NE(sw->switchObj()->grab().toImage(), disabled);
    sw->switchObj()->setEnabled(false);

    // Only "F", "0", "C" and "1" move the switch.
    auto state = std::make_shared<std::string>();
    RemoteBool b(compile("1"), client);
    for (auto [text, on] : std::vector<std::pair<const char*, bool>>{
             {"0", false}, {"1", true}, {"F", false}, {"C", true}, {"f", true}, {"off", true}, {"", true}}) {
        b.setData(compile(std::string("\"") + text + "\""));
        quietly([&] { b.updateState(); });
        EXPECT_EQ(b.switchObj()->isChecked(), on) << "state text '" << text << "'";
    }
}

TEST_F(Inputs, AHoldOffPendingWhenThePagesEndDiesWithTheSwitch)
{
    // The hold-off timer reached a switch freed when its page ended.
    std::weak_ptr<RemoteView> gone;
    {
        auto sw = openOne<RemoteBool>(page(R"(<bool command='"a " + state'>"1"</bool>)"));
        ASSERT_TRUE(sw);
        QTest::mouseClick(sw->switchObj(), Qt::LeftButton);
        gone = sw;
    }
    stack->popToRoot(false);
    p.reset();
    settle();
    EXPECT_TRUE(gone.expired());
    run(6); // the timer's time comes and goes: it must find no switch (ASan)
    EXPECT_TRUE(gone.expired());
    EXPECT_TRUE(commands().size() == 1) << "only the flip's own command";
}

TEST_F(Inputs, AMalformedCommandStillMakesAWorkingWidgetWhoseErrorValueIsNeverSent)
{
    // Any text compiles to a node, a malformed one to an error node: these
    // four were dropped and reported as if they had no command, and the
    // page lost a text field that would have sent what was typed.
    std::string errors;
    const std::string defs = "<thumb_def><wheel name='W'/><entry disp='a'/><entry disp='b'/></thumb_def>";
    p = open(page("<bool command='\"on \" +' refresh='1'>\"0\"</bool>"
                  "<textfield command='+' position='(0, 0.3)'/>"
                  "<thumbwheel command='((' position='(0, 0.5)'/><picker command='1 +'/>"
                  "<bool>\"1\"</bool><textfield/>",
                  defs),
             &errors);
    ASSERT_TRUE(p);
    EXPECT_EQ(test::occurrences(errors, "Didn't provide a command to the bool"), 2) << "only the two without one: " << errors;
    ASSERT_EQ(p->uiElements().size(), 4u);
    auto sw = widgetAt<RemoteBool>(*p, 0);
    auto tf = widgetAt<RemoteTextField>(*p, 1);
    auto wheel = widgetAt<RemotePicker>(*p, 2);
    ASSERT_TRUE(sw && tf && wheel && widgetAt<RemotePicker>(*p, 3));
    run(0.5);
    EXPECT_FALSE(sw->switchObj()->isChecked()) << "the switch shows the device's state";
    EXPECT_EQ(tf->textField()->geometry().topLeft(), QPoint(0, 125));

    std::string printed;
    {
        platform::DiagnosticCapture out;
        QTest::mouseClick(sw->switchObj(), Qt::LeftButton);
        wheel->didSelectRow(1, 0);
        tf->textField()->setFocus();
        QTest::keyClicks(tf->textField(), "status");
        QTest::keyClick(tf->textField(), Qt::Key_Return);
        printed = out.take();
    }
    EXPECT_EQ(commands(), std::vector<std::string>{"cstatus\n"}) << "the field sends what was typed";
    EXPECT_NE(printed.find("Not sending the command of a switch: its value is an error"), std::string::npos);
    EXPECT_NE(printed.find("Not sending the command of a picker: its value is an error"), std::string::npos);
}

// --- Text field ----------------------------------------------------------------

TEST_F(Inputs, TheTextFieldSendsWhatWasTypedOnlyOnItsDoneKey)
{
    auto tf = openOne<RemoteTextField>(page("<textfield command='\"ignored\"' position='(0, 0.5)'/>"));
    ASSERT_TRUE(tf);
    TextField* field = tf->textField();
    EXPECT_EQ(field->placeholderText(), "<enter command>");
    EXPECT_EQ(field->geometry(), QRect(0, 208, 260, 30));
    EXPECT_EQ(field->inputMethodQuery(Qt::ImEnterKeyType).toInt(), Qt::EnterKeyDone);

    struct Case {
        QString typed;
        std::string sent;
    };
    for (const Case& c : {Case{"  set speed 9 ", "c  set speed 9 \n"}, Case{"", "c\n"}}) {
        field->clear();
        field->setFocus();
        QTest::keyClicks(field, c.typed);
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(commands(), std::vector<std::string>{c.sent});
        EXPECT_EQ(field->text(), c.typed) << "the text stays";
        EXPECT_FALSE(field->hasFocus()) << "editing ended";
        EXPECT_TRUE(field->isClearButtonEnabled() == false) << "the clear button shows only while editing";
    }
    // Leaving the field without its done key sends nothing.
    field->setFocus();
    EXPECT_TRUE(field->hasFocus());
    EXPECT_TRUE(field->isClearButtonEnabled());
    QTest::keyClicks(field, "status");
    field->clearFocus();
    EXPECT_TRUE(commands().empty());
}

// --- Picker ----------------------------------------------------------------------

TEST(PickerWidths, AColumnIsAsWideAsItsLongestText)
{
    const std::pair<std::size_t, int> cases[] = {{0, 40},  {2, 40},   {3, 80},   {5, 80},   {6, 120},
                                                 {8, 120}, {9, 160}, {11, 160}, {12, 200}, {40, 200}};
    for (auto [characters, width] : cases)
        EXPECT_EQ(RemotePicker::columnWidth(characters), width) << characters << " characters";
}

TEST(PickerWheels, PlaceholdersArePlainTextInColumnOrderAndElevenColumnsGoDescending)
{
    // The placeholders were once matched as whole names, which changed what
    // pickers of fewer than 11 columns sent: "set wheel12" with two columns
    // sends column 1's text followed by "2". Only the 11-column fault
    // (wheel1 consuming wheel10) is mended, by replacing in descending order.
    std::vector<std::string> eleven;
    for (int i = 0; i < 11; ++i)
        eleven.push_back("v" + std::to_string(i));
    struct Case {
        std::string command;
        std::vector<std::string> values;
        std::string sent;
    };
    const Case cases[] = {
        {"set wheel0", {"Off"}, "set Off"},
        {"gear wheel0 wheel1", {"2", "Rev"}, "gear 2 Rev"},
        {"set wheel12", {"A", "B"}, "set B2"},
        {"wheel1wheel0wheel1", {"a", "b"}, "bab"},
        {"x wheel2 wheel01", {"a", "b"}, "x wheel2 a1"},
        // Column 0's text is searched again for the later columns.
        {"wheel0 wheel1", {"wheel1", "z"}, "z z"},
        {"w wheel10 wheel1 wheel0", eleven, "w v10 v1 v0"},
        {"no placeholder", {"a"}, "no placeholder"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RemotePicker::substituteWheels(c.command, c.values), c.sent) << c.command;
    // Texts that put placeholders back in cannot grow the command without end.
    std::vector<std::string> growing(10);
    for (std::size_t i = 0; i < 9; ++i)
        for (int copy = 0; copy < 8; ++copy)
            growing[i] += "wheel" + std::to_string(i + 1);
    growing[9] = "12345678";
    EXPECT_EQ(RemotePicker::substituteWheels("wheel0", growing).size(), RemotePicker::kMaxCommandText);
}

TEST_F(Inputs, ATurnedColumnSendsOnceAtRestWithEveryColumnsDisplayText)
{
    const std::string defs = R"(<thumb_def><wheel name='Gear'/><entry disp='1' command='gear 1'/>
        <entry disp='2' command='gear 2'/><entry disp='3' command='gear 3'/>
        <wheel name='Direction'/><entry disp='Forward' command='dir 1'/><entry disp='Reverse' command='dir -1'/>
        <entry disp='Parking brake' command='dir 0'/></thumb_def>)";
    auto picker = openOne<RemotePicker>(page(R"(<thumbwheel num='0' command='"gear wheel0 wheel1"'/>)", defs));
    ASSERT_TRUE(picker);
    PickerView* view = picker->datePickerView();
    ASSERT_EQ(view->columnCount(), 2);
    EXPECT_EQ(view->column(0)->width(), 40);
    EXPECT_EQ(view->column(1)->width(), 200) << "\"Parking brake\" has 13 characters";
    EXPECT_EQ(view->column(0)->rows(), (QStringList{"1", "2", "3"}));

    // Rows set from code send nothing.
    view->setSelectedRow(1, 1);
    EXPECT_TRUE(commands().empty());
    view->setSelectedRow(1, 0);

    // Three notches of a mouse wheel on column 1: one command, at rest,
    // with the display texts (never the entries' command texts).
    turn(view->column(1), 3);
    ASSERT_TRUE(test::waitFor([&] { return !view->isMoving(); }));
    EXPECT_EQ(commands(), std::vector<std::string>{"cgear 1 Parking brake\n"});
    EXPECT_EQ(picker->selectedRow(), (std::vector<int>{0, 2}));
    EXPECT_EQ(picker->selectedCol(), 1);

    // A document read again (after a firmware change) showed the old
    // reading's wheel 0: definitions are now numbered from 0 at each reading.
    auto again = read(page(R"(<thumbwheel num='0' command='"x wheel0"'/>)",
                           "<thumb_def><wheel name='New'/><entry disp='a'/><entry disp='b'/></thumb_def>"));
    auto second = widgetAt<RemotePicker>(*again->dynamicPages()->at("main"), 0);
    EXPECT_EQ(second->wheelrows(), std::vector<int>{2});

    // A turn that ends on the row it started from sends nothing.
    turn(view->column(1), 1);
    ASSERT_TRUE(test::waitFor([&] { return !view->isMoving(); }));
    EXPECT_TRUE(commands().empty());
}

TEST_F(Inputs, AWheelDefinitionWithoutColumnsShowsNothingAndNeverSends)
{
    auto picker = openOne<RemotePicker>(page(R"(<thumbwheel num='3' command='"x wheel0"'/>)"));
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->wheelcols(), 0);
    PickerView* view = picker->datePickerView();
    EXPECT_EQ(view->column(0), nullptr);
    EXPECT_TRUE(view->testAttribute(Qt::WA_TransparentForMouseEvents)) << "touches go to what lies below";
    picker->didSelectRow(0, 0);
    EXPECT_TRUE(commands().empty());
}

TEST_F(Inputs, AutomationTurnsAPickerColumnAsAFingerAndReadsEveryInputWidget)
{
    const std::string defs = R"(<thumb_def><wheel name='Mode'/><entry disp='Off'/><entry disp='Low'/>
        <entry disp='Mid'/><entry disp='High'/><entry disp='Max'/><entry disp='Boost'/></thumb_def>)";
    p = open(page(R"(<thumbwheel command='"mode wheel0"' position='(0, 0.4)'/>
                     <bool command='"lamp " + state' position='(0.7, 0.05)'>"0"</bool>
                     <textfield command='"c"' position='(0.0, 0.15)'/>)", defs));
    ASSERT_TRUE(p);
    run(0.5);
    automation::Automation automation(window);
    auto ask = [&](QJsonObject request) {
        std::optional<automation::Reply> reply;
        automation.run(automation::Request(request), [&](automation::Reply r) { reply = std::move(r); });
        EXPECT_TRUE(test::waitFor([&] { return reply.has_value(); }, 30000));
        return reply.value_or(automation::Reply::failure("no answer"));
    };
    auto picker = widgetAt<RemotePicker>(*p, 0);
    for (int row : {4, 1}) {
        automation::Reply r = ask({{"cmd", "pick"}, {"tag", picker->tag()}, {"column", 0}, {"row", row}});
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_EQ(r.fields["widget"].toObject()["selected"].toArray(), QJsonArray{row});
        EXPECT_EQ(commands(), std::vector<std::string>{"cmode " + picker->title(row, 0) + "\n"});
    }
    automation::Reply bad = ask({{"cmd", "pick"}, {"tag", picker->tag()}, {"column", 1}, {"row", 0}});
    EXPECT_FALSE(bad.ok);
    EXPECT_NE(bad.error.indexOf("no column 1"), -1) << bad.error.toStdString();

    QJsonArray widgets = ask({{"cmd", "widgets"}}).fields["widgets"].toArray();
    ASSERT_EQ(widgets.size(), 3);
    QJsonObject wheel = widgets[0].toObject(), sw = widgets[1].toObject(), field = widgets[2].toObject();
    EXPECT_EQ(wheel["class"], "thumbwheel");
    EXPECT_EQ(wheel["widths"].toArray(), QJsonArray{80});
    EXPECT_EQ(wheel["values"].toArray(), QJsonArray{"Low"});
    EXPECT_EQ(sw["class"], "bool");
    EXPECT_EQ(sw["on"], false);
    EXPECT_EQ(sw["enabled"], true);
    EXPECT_EQ(field["class"], "textfield");
    EXPECT_EQ(field["editing"], false);
    test::shot(&window, "inputs-page");
}
