// The UI description reader: messages with their lines, argument lists,
// label alignment, widget tags, character data cut into pieces, documents
// that are broken or hostile, and the error alert.

#include "expr/Node.h"
#include "elements/label/LabelView.h"
#include "elements/button/PageButton.h"
#include "elements/button/RemoteButton.h"
#include "elements/infobutton/RemoteInfoButton.h"
#include "elements/label/RemoteLabel.h"
#include "elements/WidgetTags.h"
#include "ui/PageRig.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

#include <QApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace fieldmon;
using test::PageRig;

namespace {

std::string page(const std::string& widgets, const std::string& attributes = "")
{
    return "<device>\n<start initial='main'/>\n<page name='main'" + attributes + ">\n" + widgets + "\n</page>\n</device>\n";
}

struct Reader : PageRig {
    std::string errorsOf(const std::string& doc) { return read(doc)->errors(); }
};

} // namespace

TEST_F(Reader, EachProblemIsOneEntryWithItsLine)
{
    struct Case {
        const char* what;
        std::string doc;
        std::string errors;
    };
    const Case cases[] = {
        {"worked example line", page("<label position='(0.5)' refresh='1'>temp</label>"),
         "Not enough args to the button:line 4\n"},
        {"list of one character", page("<infobutton target='main' position='x'/>"),
         "Not enough args to the InfoButton:line 4\n"},
        {"colour with two arguments names the page's line", page("", " color='(0.5, 0.5)'"),
         "Not enough args to the color for the page:line 3\n"},
        {"page without a name", "<d>\n<page title='\"x\"'>\n<label>temp</label>\n</page>\n</d>",
         "Didn't provide a name to the page:line 2\n"},
        {"joystick without a command", page("<joystick quad='1'/>"), "No command for joystick:line 4\n"},
        {"circle with a short colour list", page("<circle position='(0.5, 0.5)' color='(1, 0, 0)'/>"),
         "Not enough args to the gradient:line 4\n"},
        {"unknown element", page("<gauge/>"), ""},
        {"sections and cells outside a table", page("<section title='\"s\"'/><cell left='\"x\"'/>"), ""},
        {"bytes above 127", "<d>\n<start initial='main'/>\n<page name='m\xc3\xa4in'/>\n</d>",
         "Characters outside 7-bit ASCII read as '?':line 3\n"},
        {"two problems, in order", page("<label position='(1)'>temp</label>\n<label>"),
         "Not enough args to the button:line 4\nsyntax error:line 6\n"},
        {"not a document", "", "syntax error:line 1\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(errorsOf(c.doc), c.errors) << c.what;
}

TEST_F(Reader, BracketsOfAnyKindAndWhatAListWithoutThemLoses)
{
    struct Case {
        const char* position;
        QPoint origin;
    };
    // Without brackets the first and last characters go: ".5" and "0.".
    for (const Case& c : {Case{"(0.5,0.5)", {160, 208}}, Case{"[0.5, 0.5]", {160, 208}},
                          Case{" {0.5,0.5}\n", {160, 208}}, Case{"0.5,0.5", {160, 0}}}) {
        auto p = open(page(std::string("<infobutton target='main' position='") + c.position + "'/>"));
        ASSERT_TRUE(p);
        auto button = widgetAt<RemoteInfoButton>(*p, 0);
        ASSERT_TRUE(button);
        EXPECT_EQ(button->view()->pos(), c.origin) << c.position;
        stack->popToRoot(false);
        settle();
    }
}

TEST_F(Reader, LabelAlignmentAndTheOriginOfRightAlignedLabels)
{
    struct Case {
        const char* attributes;
        bool right;
        int x;
    };
    const Case cases[] = {
        {"position='(0.5, 0.1)'", false, 160},
        {"left='0' position='(0.5, 0.1)'", true, -160},
        {"left='1' right='1' position='(1.0, 0.1)'", true, 0},
        {"right='0' position='(0.25, 0.1)'", false, 80},
        {"right='7' position='(0.95, 0.1)'", true, 304 - 320},
    };
    for (const Case& c : cases) {
        auto p = open(page(std::string("<label ") + c.attributes + ">\"x\"</label>"));
        ASSERT_TRUE(p);
        auto label = widgetAt<RemoteLabel>(*p, 0);
        ASSERT_TRUE(label);
        EXPECT_EQ(bool(label->label()->alignment() & Qt::AlignRight), c.right) << c.attributes;
        EXPECT_EQ(label->view()->geometry(), QRect(c.x, 42, 320, 35)) << c.attributes;
        stack->popToRoot(false);
        settle();
    }
}

TEST_F(Reader, TagsCountOnAcrossDocumentsAndPagesGetNone)
{
    const int first = widgettags::peek();
    auto one = read(page("<label>temp</label>\n<infobutton target='main'/>"));
    auto two = read(page("<button target='main'>\"Go\"</button>"));
    auto a = one->dynamicPages()->at("main");
    auto b = two->dynamicPages()->at("main");
    EXPECT_EQ(a->uiElements()[0]->tag(), first);
    EXPECT_EQ(a->uiElements()[1]->tag(), first + 1);
    EXPECT_EQ(b->uiElements()[0]->tag(), first + 2);
    EXPECT_EQ(widgettags::peek(), first + 3);
    EXPECT_GE(first, widgettags::kFirstTag);
}

TEST_F(Reader, AWidgetOutsideAPageTakesItsTagAndAsksForItsValuesAndNoDeviceBuildsNothing)
{
    // A widget outside any page was dropped before it was made: it took no
    // tag, so every later widget's tag was one lower than the document's
    // numbering, and its variables were never asked for.
    const int first = widgettags::peek();
    auto reader = read("<d><variables>(int) early = 3;</variables><label refresh='1'>early</label>"
                       "<button target='m'>\"b\"</button><start initial='m'/><page name='m'><label>temp</label></page></d>");
    EXPECT_EQ(reader->errors(), "");
    auto p = reader->initialPage();
    ASSERT_TRUE(p);
    ASSERT_EQ(p->uiElements().size(), 1u) << "nothing places them";
    EXPECT_EQ(p->uiElements()[0]->tag(), first + 2);
    answerAll();
    EXPECT_TRUE(client->variables().varDict().at("early")->hasAddress());

    // A reader without a device once dereferenced the missing record.
    test::Reading alone(nullptr);
    quietly([&] { EXPECT_FALSE(alone.reader.parseXMLFileAtString(page("<label>temp</label>"))); });
    EXPECT_EQ(alone.errors(), "No device to read the document for:line 0\n");
    EXPECT_EQ(alone.initialPage(), nullptr);
    alone.reader.showErrors();
}

TEST_F(Reader, CharacterDataIsOnePieceBetweenTwoPiecesOfMarkup)
{
    // A label's text is all its pieces joined, entity references and CDATA
    // included; a comment splits "variables" into two declaration texts.
    auto p = open("<d><variables>(int) first = 0; <!-- split --> (int) second = 1;</variables>" +
                  page("<label>\"a &amp; b\" + <!-- note -->\" &lt;c&gt;\"</label>\n"
                       "<label><![CDATA[\"x<y\"]]> + \"!\"</label>") +
                  "</d>");
    ASSERT_TRUE(p);
    EXPECT_EQ(widgetAt<RemoteLabel>(*p, 0)->label()->text(), "a & b <c>");
    EXPECT_EQ(widgetAt<RemoteLabel>(*p, 1)->label()->text(), "x<y!");
    EXPECT_TRUE(client->variables().varDict().count("first"));
    EXPECT_TRUE(client->variables().varDict().count("second"));
}

TEST_F(Reader, ALabelShowsNilUntilItsFirstValue)
{
    auto p = open(page("<label refresh='1'>te<!-- split -->mp</label>"));
    ASSERT_TRUE(p);
    auto label = widgetAt<RemoteLabel>(*p, 0);
    EXPECT_EQ(label->label()->text(), "(nil)");
    run(0.2);
    // temp reads the bytes 00 01 02 03 of the fake device's memory.
    EXPECT_EQ(label->label()->text(), "50462976");
}

TEST_F(Reader, ABlankRateIsARateOfZeroAndNoRateIsOneRefreshWhenThePageLoads)
{
    // refresh='' was read as no rate at all. A blank text has no number: 0,
    // serviced at every pass, 0.05 s apart.
    struct Case {
        const char* attribute;
        int least, most; // value requests in a second
    };
    for (const Case& c : {Case{" refresh=''", 18, 21}, Case{" update=' '", 18, 21}, Case{"", 0, 0}}) {
        auto p = open(page(std::string("<label") + c.attribute + ">temp</label>"));
        ASSERT_TRUE(p);
        run(0.5);
        sent.clear();
        run(1.0);
        EXPECT_GE(valueRequests(sent), c.least) << c.attribute;
        EXPECT_LE(valueRequests(sent), c.most) << c.attribute;
        EXPECT_NE(widgetAt<RemoteLabel>(*p, 0)->label()->text(), "(nil)");
        stack->popToRoot(false);
        settle();
    }
}

TEST_F(Reader, AButtonTitleInPiecesIsOneTrimmedBindingAndNoTitleHidesTheButton)
{
    auto p = open(page("<button target='main'>\n  \"Tom &amp; \" + <!-- x --> \"Jerry\"  \n</button>\n"
                       "<button target='other'>  \n </button>"));
    ASSERT_TRUE(p);
    ASSERT_EQ(p->uiElements().size(), 1u);
    auto button = widgetAt<RemoteButton>(*p, 0);
    EXPECT_EQ(button->button()->text(), "Tom & Jerry");
    EXPECT_EQ(button->button()->geometry(), QRect(10, 10, 100, 40));
    // The hidden button's target is registered all the same.
    EXPECT_EQ(p->buttonData().size(), 2u);
    EXPECT_EQ(p->buttonData().at(std::to_string(button->tag())), "main");
}

TEST_F(Reader, ADocumentWithoutStartOpensNothingButShowsItsErrorsAndLeavesNothingBehind)
{
    std::weak_ptr<DevicePage> made;
    const auto widgetsBefore = QApplication::allWidgets().size();
    const auto clientRefsBefore = client.use_count();
    {
        auto reader = read("<d><page name='main' color='(1)'><label refresh='1'>temp</label></page></d>");
        EXPECT_EQ(reader->initialPage(), nullptr);
        made = reader->dynamicPages()->at("main");
        EXPECT_GT(client->scheduler().size(), 0u);
        reader->reader.showErrors();
        ASSERT_EQ(s.alerts.history().size(), 1u);
        const auto& alert = s.alerts.history()[0].content;
        EXPECT_EQ(alert.title, "XML parse error");
        EXPECT_EQ(alert.message, "Not enough args to the color for the page:line 1\n");
        EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
    }
    EXPECT_TRUE(made.expired()) << "what a reading made goes with it";
    EXPECT_EQ(client->scheduler().size(), 0u);
    EXPECT_EQ(QApplication::allWidgets().size(), widgetsBefore);
    EXPECT_EQ(client.use_count(), clientRefsBefore);
    read(page("<label>\"fine\"</label>"))->reader.showErrors();
    EXPECT_EQ(s.alerts.history().size(), 1u) << "an empty error list shows no alert";
}

TEST_F(Reader, ADocumentTypeAndAByteOrderMarkAreNotPartOfTheDocument)
{
    // An outside DTD, and outside entities that nothing uses, each put an
    // entry in the error list, so a document a device author had always
    // served with its DOCTYPE opened with an alert. A byte-order mark became
    // "???" before the first tag, and nothing of the document was read.
    const std::string body = "<d><start initial='m'/><page name='m'><label>\"fine\"</label></page></d>";
    for (const std::string& doc : {"<!DOCTYPE d SYSTEM 'file:///etc/passwd'>" + body,
                                   "<?xml version='1.0'?>\n<!DOCTYPE d PUBLIC '-//x//y' 'ui.dtd' "
                                   "[<!ENTITY logo SYSTEM 'logo.png'> <!ENTITY v '3'>]>" + body,
                                   "\xEF\xBB\xBF" + body, "\xEF\xBB\xBF<!DOCTYPE d SYSTEM 'ui.dtd'>" + body}) {
        auto reader = read(doc);
        EXPECT_EQ(reader->errors(), "") << doc;
        auto p = reader->initialPage();
        ASSERT_TRUE(p) << doc;
        ASSERT_EQ(p->uiElements().size(), 1u);
    }
}

TEST_F(Reader, HostileDocumentsEndInAnErrorInBoundedTime)
{
    std::string deep = "<d>";
    for (int i = 0; i < 100000; ++i)
        deep += "<x>";
    const std::string laughs =
        "<!DOCTYPE d [<!ENTITY a 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa'>"
        "<!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'><!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'>"
        "<!ENTITY e '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'><!ENTITY f '&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;'>"
        "<!ENTITY g '&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;'><!ENTITY h '&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;'>]>"
        "<d><start initial='m'/><page name='m'><label>\"&h;\"</label></page></d>";
    const std::string external = "<!DOCTYPE d [<!ENTITY x SYSTEM 'file:///etc/passwd'> <!ENTITY y 'a&x;'>]>"
                                 "<d><start initial='m'/><page name='m'><label>\"&x;\"</label><!-- &x; -->\n"
                                 "<label>\"&y;\"</label></page></d>";
    const std::string longText = page("<label>\"" + std::string(200000, 'a') + "\"</label>");
    const std::string longAttribute = page("<label position='(" + std::string(200000, '1') + ", 1)'/>");
    struct Case {
        const char* what;
        const std::string& doc;
        std::string error;
    };
    for (const Case& c : {Case{"deep nesting", deep, "Elements nested too deeply:line 1\n"},
                          Case{"entity expansion", laughs, "syntax error:line 1\n"},
                          Case{"external entity", external, "Entity 'x' not read: only the document is:line 1\nEntity 'y' not read: only the document is:line 2\n"},
                          Case{"long text", longText, "Text longer than 65536 characters:line 4\n"},
                          Case{"long attribute", longAttribute, "Attribute longer than 65536 characters:line 4\n"}}) {
        QElapsedTimer clock;
        clock.start();
        auto reader = read(c.doc);
        EXPECT_LT(clock.elapsed(), 2000) << c.what;
        EXPECT_EQ(reader->errors(), c.error) << c.what;
        if (auto p = reader->initialPage()) {
            for (const auto& w : p->uiElements()) {
                if (auto label = std::dynamic_pointer_cast<RemoteLabel>(w)) {
                    EXPECT_EQ(label->label()->text().indexOf("root:"), -1) << c.what;
                }
            }
        }
    }
}

TEST_F(Reader, TheErrorAlertListsTwentyEntriesAndSaysHowManyMore)
{
    // 20,000 bad elements made a 1 MB alert and a 6 s stall. Entries past
    // the twentieth are counted, not listed, and one entry is at most 200
    // characters of its message.
    std::string widgets;
    for (int i = 0; i < 25; ++i)
        widgets += "<image/>\n";
    auto reader = read(page(widgets));
    const std::string entry = "Didn't provide an image name to the image:line ";
    EXPECT_EQ(std::count(reader->errors().begin(), reader->errors().end(), '\n'), uidesc::ErrorList::kMaxListedErrors);
    EXPECT_EQ(reader->reader.unlistedErrors(), 5);
    EXPECT_TRUE(reader->reader.alertMessage().ends_with("image:line 23\nand 5 more errors\n")) << reader->reader.alertMessage();
    // The table's message prints every attribute, so a long one makes a long entry.
    auto one = read("<d><table name='t' note='" + std::string(300, 'x') + "'/></d>");
    const std::string head = "Error: Not enough arguments to the table.  Got '{ name = \"t\"; note = \"";
    EXPECT_EQ(one->errors(), head + std::string(uidesc::ErrorList::kMaxErrorMessage - head.size(), 'x') + "...:line 1\n");
    EXPECT_EQ(one->reader.alertMessage(), one->errors());
}

namespace {

// A stand-in for a widget of a later issue whose command is required.
int switchesBuilt = 0;
int switchEnds = 0;
bool startSwitch(uidesc::ElementBuild& b)
{
    if (!b.required("command"))
        return false;
    ++switchesBuilt;
    return true;
}
void endSwitch(uidesc::ElementBuild&)
{
    ++switchEnds;
}

} // namespace

TEST_F(Reader, OnlyAnAbsentRequiredAttributeIsMissingAndTheEndOfADroppedElementIsSkipped)
{
    // A malformed command compiles to an error node: it is present, and the
    // element is built. Only the switch without one is reported and dropped.
    uidesc::BuilderRegistry builders = PageBuildContext::appBuilders();
    builders.replace("bool", {startSwitch, endSwitch});
    switchesBuilt = switchEnds = 0;
    test::Reading reading(client, builders);
    quietly([&] {
        reading.reader.parseXMLFileAtString(page("<bool>temp</bool>\n<bool command='\"on \" +'>temp</bool>\n"
                                         "<bool command='\"on \" + state'>temp</bool>"));
    });
    EXPECT_EQ(reading.errors(), "Didn't provide a command to the bool:line 4\n");
    EXPECT_EQ(switchesBuilt, 2);
    EXPECT_EQ(switchEnds, 2) << "the end of a dropped element is skipped";
}

TEST_F(Reader, ThumbwheelDefinitionsCountFromZeroInEachReadingAndEarlyWheelsAreIgnored)
{
    const std::string doc = "<d><wheel name='Early'/><entry disp='x' command='y'/>"
                            "<thumb_def><wheel name='Mode'/><entry disp='Off' command='mode 0'/>"
                            "<entry disp='On' command='mode 1'/></thumb_def>"
                            "<thumb_def><wheel name='Gear'/><entry disp='1' command='gear 1'/></thumb_def></d>";
    for (int reading = 0; reading < 2; ++reading) {
        EXPECT_EQ(errorsOf(doc), "");
        ASSERT_EQ(client->thumbwheels().count(), 2) << reading;
        EXPECT_EQ(client->thumbwheels().columns(0), 1) << "the early wheel joined nothing";
        EXPECT_EQ(client->thumbwheels().rows(0, 0), 2);
        EXPECT_EQ(client->thumbwheels().display(1, 0, 0), "On");
        EXPECT_EQ(client->thumbwheels().command(1, 0, 0), "mode 1");
        EXPECT_EQ(client->thumbwheels().display(0, 0, 1), "1");
    }
}

TEST_F(Reader, TheEndOfALabelActsOnTheLabelItsStartMade)
{
    // A label inside a label once gave the outer label's end the inner
    // label (the most recent widget) and both texts run together.
    auto p = open(page("<label position='(0, 0.1)'>\"outer\"<label position='(0, 0.5)'>\"inner\"</label></label>"));
    ASSERT_TRUE(p);
    ASSERT_EQ(p->uiElements().size(), 2u);
    EXPECT_EQ(widgetAt<RemoteLabel>(*p, 0)->label()->text(), "outer");
    EXPECT_EQ(widgetAt<RemoteLabel>(*p, 1)->label()->text(), "inner");
}
