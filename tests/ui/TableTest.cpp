// A device's table page: sections and templates, loading in stages, what a
// row sends (commands, confirmations, text fields) and when the list may
// reload, target pages and the index variable, and the page's lifecycle.
//
// The fake device's memory (SchedulerFixture): variable i lives at
// 0x100 + 0x40 * i and every byte holds the low byte of its own address,
// so a BYTE at index 5 reads 64, at index 8 reads 0, and element k of a
// BYTE array at index 10 reads -128 + k (a BYTE is signed).

#include "app/automation/InputSynthesizer.h"
#include "expr/Scope.h"
#include "pages/ClientDynamicTable.h"
#include "pages/ClientDynamicTableCell.h"
#include "pages/DynamicRowCell.h"
#include "pages/DynamicTableSections.h"
#include "ui/PageRig.h"
#include "widgets/TextField.h"

#include <QElapsedTimer>
#include <QScroller>
#include <QTest>

#include <gtest/gtest.h>

using namespace fieldmon;
using test::PageRig;

namespace {

const char* kVariables = "(BYTE) rows = 5; (BYTE) zero = 8; (BYTE) arr = 10; (BYTE) big = 6;";

std::string table(const std::string& body, const std::string& attributes = "cellCount='3' indexVar='k'")
{
    return "<device><start initial='t'/><table name='t' " + attributes + ">" + body + "</table>" +
           "<page name='next' title='printf(\"Row %d\", k)'/></device>";
}

struct TablePage : PageRig {
    std::shared_ptr<ClientDynamicTable> t;

    TablePage()
    {
        quietly([&] { client->variables().parseVariableDeclaration(kVariables); });
        // Text fields take the focus only in the active window.
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    GroupedTableView& view() { return *t->tableView(); }
    bool openTable(const std::string& doc)
    {
        t = std::dynamic_pointer_cast<ClientDynamicTable>(open(doc));
        return t != nullptr;
    }
    DynamicRowCell* cell(int section, int row)
    {
        view().scrollToRow({section, row}, GroupedTableView::ScrollPosition::Middle, false);
        return qobject_cast<DynamicRowCell*>(view().cellForRow({section, row}));
    }
    QString text(int section, int row)
    {
        DynamicRowCell* c = cell(section, row);
        if (!c)
            return "(no cell)";
        if (c->kind() == DynamicRowCell::Kind::LeftRight)
            return c->leftLabel()->text() + "|" + c->field()->text();
        return c->text();
    }
    std::vector<std::string> commands()
    {
        answerAll();
        std::vector<std::string> out;
        for (const auto& d : std::exchange(sent, {}))
            if (d[0] == 'c')
                out.push_back(d);
        return out;
    }
};

} // namespace

TEST_F(TablePage, TemplatesWithoutASectionMakeOneListWithoutAHeader)
{
    ASSERT_TRUE(openTable(table(R"(<cell center='printf("row %d", k)'/>)", "cellCount='4' indexVar='k'")));
    run(0.5);
    ASSERT_EQ(view().numberOfSections(), 1);
    EXPECT_EQ(view().headerTitle(0), "");
    EXPECT_EQ(view().headerView(0), nullptr);
    ASSERT_EQ(view().numberOfRows(0), 4);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(text(0, r), QString("row %1").arg(r));
}

TEST_F(TablePage, CoverageByIndexOpenRangesAndAllWithTheFirstTemplateAddedWinning)
{
    ASSERT_TRUE(openTable(table(R"(<section title='"S"' cellCount='9'/>
        <cell center='printf("one %d", k)' index='3'/>
        <cell center='printf("two %d", k)' indexStart='2' indexEnd='4'/>
        <cell center='printf("end %d", k)' indexEnd='1'/>
        <cell center='printf("start %d", k)' indexStart='7'/>)")));
    run(0.5);
    const char* want[] = {"end 0", "end 1", "two 2", "one 3", "two 4", "", "", "start 7", "start 8"};
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(text(0, r), QString(want[r])) << "row " << r;
    // Rows 5 and 6: no template covers them.
    EXPECT_EQ(view().cellForRow({0, 5})->reuseIdentifier(), "EMPTYCELL");
    EXPECT_EQ(view().cellForRow({0, 5})->selectionStyle(), TableCell::SelectionStyle::None);
    platform::DiagnosticCapture out;
    view().reloadData();
    EXPECT_NE(out.take().find("ERROR: No cells in range"), std::string::npos);
}

TEST_F(TablePage, ACountOfZeroIsAnEmptySectionAndAnUnknownCountShowsNoRowsUntilItArrives)
{
    ASSERT_TRUE(openTable(table(R"(<section title='"none"' cellCount='zero'/><cell center='"x"'/>
                                   <section title='"some"' cellCount='rows'/><cell right='arr[k]' left='"v"'/>)")));
    ASSERT_EQ(view().numberOfSections(), 2);
    EXPECT_EQ(view().numberOfRows(1), 0) << "no rows until the count is in";
    run(0.5);
    ASSERT_EQ(view().numberOfSections(), 2);
    EXPECT_EQ(view().headerTitle(0), "none");
    EXPECT_EQ(view().numberOfRows(0), 0);
    EXPECT_EQ(view().numberOfRows(1), 64);
    EXPECT_EQ(text(1, 0), "v|-128");
    EXPECT_EQ(text(1, 63), "v|-65");
}

TEST_F(TablePage, RowsLoadInStagesWithOneBatchPerStageAndTheListReloadsOnceAllAreIn)
{
    // Counts, then range bounds, then the 64 rows' texts: each stage is one
    // address batch and one value batch, whatever the number of rows.
    ASSERT_TRUE(openTable(table(R"(<cell left='printf("#%d", k)' right='arr[k]' indexStart='zero'/>)",
                                "cellCount='rows' indexVar='k' refresh='once'")));
    std::vector<std::string> batches;
    for (auto got = received(); !got.empty(); got = received()) {
        for (const auto& d : got) {
            EXPECT_EQ(view().numberOfRows(0), 0) << "no rows before every row's text is in";
            batches.push_back(d.substr(0, 1));
            answer(d);
        }
        quietly([&] { s.loop.runPending(); });
    }
    EXPECT_EQ(batches, (std::vector<std::string>{"v", "a", "v", "a", "v", "a"}));
    ASSERT_EQ(view().numberOfRows(0), 64);
    EXPECT_EQ(text(0, 0), "#0|-128");
    EXPECT_EQ(text(0, 40), "#40|-88");
    // A constant table is told once and never kept.
    ASSERT_TRUE(openTable(table(R"(<cell center='"fixed"'/>)", "cellCount='2' indexVar='j' refresh='1'")));
    EXPECT_EQ(text(0, 1), "fixed");
    EXPECT_TRUE(t->contents()->isConst());
}

TEST_F(TablePage, ARowWithoutItsTextYetKeepsWhatAReusedCellShowed)
{
    ASSERT_TRUE(openTable(table(R"(<cell center='printf("%d", arr[k])'/>)", "cellCount='2' indexVar='k'")));
    run(0.5);
    auto tmpl = t->contents()->templateFor(0, 0);
    ASSERT_TRUE(tmpl);
    EXPECT_EQ(text(0, 1), "-127");
    // A list of its own shows one row of the template: row 1, then row 5,
    // which was never loaded.
    struct OneRow : TableSource {
        std::shared_ptr<ClientDynamicTableCell> tmpl;
        int row = 1;
        int numberOfRows(GroupedTableView&, int) override { return 1; }
        TableCell* cellForRow(GroupedTableView& v, IndexPath) override { return tmpl->cellForIndex(row, v); }
    } source;
    source.tmpl = tmpl;
    GroupedTableView other;
    other.resize(320, 416);
    other.setSource(&source);
    other.reloadData();
    ASSERT_EQ(other.cellForRow({0, 0})->text(), "-127");
    source.row = 5;
    std::string printed;
    {
        platform::DiagnosticCapture out;
        other.reloadData(); // the cell is reused for row 5
        printed = out.take();
    }
    EXPECT_EQ(other.cellForRow({0, 0})->text(), "-127") << "a reused cell keeps what it showed";
    EXPECT_NE(printed.find("Dictionary doesn't have a value for this cell index"), std::string::npos);
    std::unique_ptr<DynamicRowCell> fresh;
    quietly([&] { fresh.reset(tmpl->cellForIndex(5, view())); });
    EXPECT_EQ(fresh->text(), "") << "a new cell is empty";
    other.setSource(nullptr);
}

TEST_F(TablePage, NoReloadWhileAFieldOfAnySectionIsEditedAndTheFieldSendsForItsOwnRow)
{
    // Only fields of the last section used to hold reloads off: typing in
    // the first section was wiped by the next refresh. And the field sent
    // the command of the template's first row, not of the row edited.
    ASSERT_TRUE(openTable(table(R"(<section title='"Limits"' cellCount='10'/>
        <cell left='printf("L%d", k)' right='arr[k]' command='printf("limit %d", k)'/>
        <section title='"Other"' cellCount='2'/><cell left='"x"' right='temp'/>)", "cellCount='1' indexVar='k' refresh='1'")));
    run(1.5);
    DynamicRowCell* row7 = cell(0, 7);
    ASSERT_TRUE(row7 && row7->editable());
    EXPECT_EQ(row7->field()->textColour(), DynamicRowCell::editableColour());
    EXPECT_FALSE(cell(1, 0)->editable()) << "no command: a blue, read-only field";
    row7 = cell(0, 7);
    // A drag that starts on the field goes to the list; a tap on it edits.
    EXPECT_TRUE(row7->field()->testAttribute(Qt::WA_TransparentForMouseEvents));
    QTest::mouseClick(row7, Qt::LeftButton, {}, row7->field()->geometry().center());
    EXPECT_FALSE(row7->field()->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_FALSE(row7->isHighlighted()) << "the tap chose no row";
    ASSERT_TRUE(t->editing());
    row7->field()->setText("450 ");
    run(3);
    EXPECT_TRUE(t->reloadWaiting());
    EXPECT_EQ(row7->field()->text(), "450 ") << "refreshes while typing leave the text alone";
    QTest::keyClick(row7->field(), Qt::Key_Return);
    EXPECT_EQ(commands(), std::vector<std::string>{"climit 7 450 \n"});
    EXPECT_FALSE(t->editing());
    // The reload that waited ran at once and put the old value back, as if
    // the device had refused what was typed.
    QCoreApplication::processEvents();
    EXPECT_EQ(row7->field()->text(), "450 ") << "the typed text stays until a refresh brings a value";
    run(1.0);
    EXPECT_FALSE(t->reloadWaiting());
    EXPECT_EQ(text(0, 7), "L7|-121");
}

TEST_F(TablePage, AReadOnlyFieldTakesATapOnlyBesideItChoosesTheRowAndCentreTextsSitLeft)
{
    // A tap on a row's blue field chose the row and opened its target, and
    // a "center" row's text was centred where a plain cell puts it left.
    ASSERT_TRUE(openTable(table(R"(<cell left='"Next"' right='"here"' target='next' index='0'/>
                                   <cell center='"Centre"' index='1'/>)",
                                "cellCount='2' indexVar='k'")));
    run(0.5);
    DynamicRowCell* row = cell(0, 0);
    ASSERT_TRUE(row && !row->editable());
    QTest::mouseClick(row, Qt::LeftButton, {}, row->field()->geometry().center());
    EXPECT_EQ(stack->top(), t.get()) << "the field took the tap";
    DynamicRowCell* centre = cell(0, 1);
    EXPECT_FALSE(centre->textLabel()->alignment() & Qt::AlignHCenter);
    QJsonObject o;
    centre->inspect(o);
    EXPECT_EQ(o["center"], "Centre");
    row = cell(0, 0);
    QTest::mouseClick(row, Qt::LeftButton, {}, row->automationTapPoint());
    EXPECT_EQ(stack->top(), t->dynamicPages()->at("next").get()) << "beside the field the row is chosen";
}

TEST_F(TablePage, ConfirmationNoSendsNothingYesSendsTheRowsCommandAndNoReloadWhileItIsOpen)
{
    ASSERT_TRUE(openTable(table(R"(<cell center='printf("Alarm %d", k)' command='printf("ack %d", k)' confirm='1'/>)",
                                "cellCount='5' indexVar='k' refresh='1'")));
    run(0.5);
    test::tapRow(view(), {0, 3});
    ASSERT_NE(s.alerts.lastOpen(), nullptr);
    const auto& shown = s.alerts.lastOpen()->content;
    EXPECT_EQ(shown.title, "Alarm 3");
    EXPECT_EQ(shown.message, "Are you sure?");
    EXPECT_EQ(shown.buttons, (std::vector<std::string>{"No", "Yes"}));
    run(2.5);
    EXPECT_TRUE(t->reloadWaiting()) << "the rows the user saw stay while the question is open";
    s.alerts.press(s.alerts.lastOpen()->id, 0);
    EXPECT_TRUE(commands().empty()) << "No sends nothing";

    test::tapRow(view(), {0, 2});
    s.alerts.press(s.alerts.lastOpen()->id, 1);
    EXPECT_EQ(commands(), std::vector<std::string>{"cack 2\n"});
}

TEST_F(TablePage, AConfirmationWhoseValueHasNotArrivedAsksAndLeavingThePageClosesItUnanswered)
{
    // confirm='temp' was never fetched, read as 0, and the command went
    // out unasked. Now a value not yet in counts as "ask".
    ASSERT_TRUE(openTable(table(R"(<cell center='"Reset"' command='"reset"' confirm='temp' index='0'/>)",
                                "cellCount='1' indexVar='k' refresh='once'")));
    test::tapRow(view(), {0, 0});
    ASSERT_NE(s.alerts.lastOpen(), nullptr) << "asked before temp's value is in";
    const auto id = s.alerts.lastOpen()->id;
    std::weak_ptr<ClientDynamicTable> weak = t;
    QTest::mouseClick(stack->bar()->backButton(), Qt::LeftButton);
    ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); }));
    EXPECT_EQ(s.alerts.openCount(), 0u) << "the question went with the page";
    t.reset();
    settle();
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(s.alerts.press(id, 1));
    EXPECT_TRUE(commands().empty());
}

TEST_F(TablePage, ATargetRowSetsTheIndexVariableBeforeThePageAppears)
{
    // The index was set after the push, so the target page's title, read
    // as it appeared, showed the previous row (or the error value).
    ASSERT_TRUE(openTable(table(R"(<cell center='"lost"' target='nowhere' index='1'/>
                                   <cell center='printf("Go %d", k)' target='next'/>)")));
    run(0.5);
    EXPECT_EQ(client->expressions().environment()->getVariable("k")->type(), expr::NodeKind::Error);
    EXPECT_EQ(view().cellForRow({0, 2})->accessory(), TableCell::Accessory::DisclosureIndicator);
    test::tapRow(view(), {0, 2});
    auto next = t->dynamicPages()->at("next");
    ASSERT_EQ(stack->top(), next.get());
    EXPECT_EQ(next->title(), "Row 2");
    EXPECT_TRUE(session->isOpen()) << "a page pushed from the start page ends nothing";
    stack->pop(false);
    settle();
    {
        platform::DiagnosticCapture out;
        test::tapRow(view(), {0, 1});
        EXPECT_EQ(out.take(), "ERROR: No page named 'nowhere' in dict for pushing\n");
    }
    EXPECT_EQ(stack->top(), t.get());
    EXPECT_EQ(client->expressions().environment()->getVariable("k")->intValue(), 2) << "unchanged by a target naming no page";
}

TEST_F(TablePage, TheTableFollowsThePageProtocolAndButtonsOverItOpenPages)
{
    ASSERT_TRUE(openTable(table(R"(<button target='next'>"More"</button><cell center='"a"'/>)",
                                "cellCount='1' indexVar='k' title='\"Alarms\"' onPageLoad='\"alarms\"'")));
    run(0.5);
    EXPECT_EQ(t->title(), "Alarms");
    EXPECT_EQ(commands(), std::vector<std::string>{"calarms\n"});
    auto* button = t->findChild<QAbstractButton*>();
    ASSERT_TRUE(button);
    EXPECT_TRUE(button->isVisible()) << "widgets lie over the list";
    test::shot(&window, "table-page");
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(stack->top(), t->dynamicPages()->at("next").get());
}

TEST_F(TablePage, AMalformedSectionTitleIsATitleAndTheTableMessageShowsEveryAttribute)
{
    // A section whose title did not compile was dropped ("Section without a
    // title?") and its rows went to the section before it. Any text is a
    // title: a malformed one shows what an error value shows.
    std::string errors;
    t = std::dynamic_pointer_cast<ClientDynamicTable>(open(table("<section title='\"A\"' cellCount='1'/>\n"
                                                                 "<cell center='\"a\"'/>\n"
                                                                 "<section title='\"B\" +' cellCount='2'/>\n"
                                                                 "<cell center='\"b\"'/>\n<section cellCount='1'/>"),
                                                           &errors));
    ASSERT_TRUE(t);
    run(0.5);
    EXPECT_EQ(errors, "Section without a title?:line 5\n");
    ASSERT_EQ(view().numberOfSections(), 2);
    EXPECT_EQ(view().headerTitle(1), "error");
    EXPECT_EQ(view().numberOfRows(1), 2);
    EXPECT_EQ(text(1, 1), "b");
    EXPECT_EQ(text(0, 0), "a");

    // The table's message printed only the attributes it knew: a misspelt
    // "cellcount" did not show.
    auto reader = read("<d><table name='t' cellcount='3' indexVar='k' size='9'/></d>");
    EXPECT_EQ(reader->errors(), "Error: Not enough arguments to the table.  Got '{ name = \"t\"; cellcount = \"3\"; "
                                "indexVar = \"k\"; size = \"9\"; }' as arguments:line 1\n");
}

TEST_F(TablePage, ARowWhoseValueNeverArrivesIsAskedForAgainAtTheTablesRateNotAtEveryReply)
{
    // A reply too short to be stored left a row's value missing, and the
    // table asked for it again at every reply: a request storm at the
    // device's round-trip speed, for as long as the page was open.
    ASSERT_TRUE(openTable(table(R"(<cell left='"v"' right='big' index='0'/>)", "cellCount='1' indexVar='k' refresh='1'")));
    int valueRequests = 0;
    const double end = s.loop.now() + 2.0;
    while (s.loop.now() < end) {
        quietly([&] { s.loop.advance(0.01); });
        // Answered at once, each value one byte short; bounded, since a
        // storm would answer itself for ever.
        for (int round = 0; round < 50; ++round) {
            const auto got = received();
            if (got.empty())
                break;
            for (const auto& d : got) {
                if (d[0] != 'a') {
                    answer(d);
                    continue;
                }
                ++valueRequests;
                std::string cut = reply(d);
                cut.erase(cut.size() - 2, 1);
                quietly([&] { client->variables().requests().handleValueReply(cut); });
            }
        }
    }
    EXPECT_GE(valueRequests, 2);
    EXPECT_LE(valueRequests, 4) << "one at each refresh, every second";
}

TEST_F(TablePage, AHugeCountIsHeldAndOnlyRowsNearTheViewGetCells)
{
    // A document with sections of two billion rows each had the table make
    // an environment per row: the whole table now holds at most 10,000.
    ASSERT_TRUE(openTable(table(R"(<section title='"a"'/><cell center='printf("%d", k)'/>
                                   <section title='"b"'/><cell center='"b"'/>)",
                                "cellCount='2000000000' indexVar='k'")));
    run(0.5);
    ASSERT_EQ(view().numberOfRows(0), DynamicTableSections::kMaxRows);
    EXPECT_EQ(view().numberOfRows(1), 0) << "nothing left for the second section";
    int cells = 0;
    for (int r = 0; r < DynamicTableSections::kMaxRows; ++r)
        cells += view().cellForRow({0, r}) != nullptr;
    EXPECT_LT(cells, 40);
    EXPECT_EQ(text(0, 9999), "9999");
}

TEST_F(TablePage, LeavingTheTableFreesItAndLeavesNothingHoldingTheDevice)
{
    // The index variable's value, kept in the device's own environment, was
    // a node holding the device: the record held itself and never went.
    const long before = client.use_count();
    ASSERT_TRUE(openTable(table(R"(<cell center='printf("Go %d", k)' target='next'/>)")));
    run(0.5);
    test::tapRow(view(), {0, 1});
    stack->pop(false);
    settle();
    std::weak_ptr<ClientDynamicTable> weak = t;
    t.reset();
    QTest::mouseClick(stack->bar()->backButton(), Qt::LeftButton);
    ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); }));
    settle();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(client.use_count(), before);
}

TEST_F(TablePage, AReloadWhileAFingerDragsTheListLetsTheListFollowTheFinger)
{
    // A reload hid every cell, the one under the finger too, and that cell
    // took the rest of the finger's events with it: the list stopped where
    // it was and its scroller stayed in a drag. A new table's first drag
    // often met the reload that its rows' values bring, and did not scroll.
    ASSERT_TRUE(openTable(table(R"(<cell left='printf("L%d", k)' right='arr[k]' command='printf("limit %d", k)'/>)",
                                "cellCount='200' indexVar='k' refresh='5'")));
    run(1.5);
    automation::InputSynthesizer input;
    QScroller* scroller = QScroller::scroller(view().viewport());
    const QPoint origin = view().viewport()->mapTo(&window, QPoint(0, 0));
    using Pointer = automation::InputSynthesizer::Pointer;
    for (Pointer pointer : {Pointer::Touch, Pointer::Mouse})
        for (int x : {50, 160}) { // on the row's label; on its field
            SCOPED_TRACE(testing::Message() << "x " << x << (pointer == Pointer::Touch ? " touch" : " mouse"));
            view().setContentOffset(0, false);
            const QPointF from(x, origin.y() + 300), to(x, origin.y() + 20);
            input.press(window.windowHandle(), from, pointer);
            QElapsedTimer clock;
            clock.start();
            bool reloaded = false;
            for (double t = 0; t < 1.0;) {
                QTest::qWait(16);
                if (!reloaded && clock.elapsed() > 60) {
                    reloaded = true;
                    view().reloadData();
                }
                t = std::min(1.0, clock.elapsed() / 300.0);
                input.move(from + (to - from) * t);
            }
            EXPECT_GT(view().contentOffset(), 200) << "the list follows the finger after the reload";
            input.release();
            QTest::qWait(20);
            EXPECT_NE(scroller->state(), QScroller::Dragging);
            view().stopScrolling();
            EXPECT_TRUE(QTest::qWaitFor([&] { return scroller->state() == QScroller::Inactive; }, 1000));
            QTest::qWait(20);
            for (TableCell* cell : view().findChildren<TableCell*>())
                EXPECT_FALSE(cell->isVisible() && cell->geometry().bottom() < 0) << "a cell the reload put away still shows";
        }
}

