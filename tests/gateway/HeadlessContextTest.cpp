// The gateway's headless build context: a document read through it gives
// exported elements with stable ids and the values a page would show, and
// its commands send the device the bytes a touch on the widget sends. The
// device is a fake one on loopback; time is the manual loop's.
#include "gateway/HeadlessBuildContext.h"

#include "device/SchedulerFixture.h"
#include "uidesc/XMLReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace fieldmon::gateway {
namespace {

struct HeadlessContext : test::SchedulerFixture {
    std::map<std::size_t, std::vector<std::string>> told; // by element

    std::unique_ptr<HeadlessBuildContext> read(const std::string& document)
    {
        auto context = std::make_unique<HeadlessBuildContext>(
            client, [this](const ElementValue& v) { told[v.element].push_back(v.text); });
        XMLReader reader(*context);
        reader.setClient(client);
        quietly([&] { EXPECT_TRUE(reader.parseXMLFileAtString(document)); });
        return context;
    }

    static std::vector<std::string> ids(const HeadlessBuildContext& context)
    {
        std::vector<std::string> out;
        for (const ExportedElement& e : context.elements())
            out.push_back(e.page + "/" + e.element);
        return out;
    }

    std::vector<std::string> commandsSent()
    {
        received();
        std::vector<std::string> out;
        for (const std::string& d : sent)
            if (!d.empty() && d[0] == 'c')
                out.push_back(d);
        return out;
    }
};

const char* const kWheels = "<thumb_def><wheel name='Gear'/><entry disp='1' command='g1'/><entry disp='2' command='g2'/>"
                            "<wheel name='Dir'/><entry disp='Fwd' command='f'/><entry disp='Rev' command='r'/></thumb_def>";

TEST_F(HeadlessContext, IdsCountPerKindWithinAPageAndSurviveAppendedElements)
{
    const std::string page = "<page name='main'><label refresh='1'>temp</label><arrow angle='level' refresh='1'/>"
                             "<image file='x.png'/><label refresh='1'>pressure</label>";
    auto before = read(std::string("<d><variables>(int) speed = 3;</variables>") + kWheels + page +
                       "</page><table name='t' cellCount='1' indexVar='i'><cell right='temp'/></table></d>");
    // An element inserted at the end of the page and one on a new page.
    auto after = read(std::string("<d>") + kWheels + page +
                      "<label refresh='1'>level</label><bool command='\"x\"'>temp</bool></page>"
                      "<page name='more'><label refresh='1'>temp</label></page></d>");
    EXPECT_EQ(ids(*before), (std::vector<std::string>{"main/label0", "main/arrow0", "main/label1"}));
    EXPECT_EQ(ids(*after), (std::vector<std::string>{"main/label0", "main/arrow0", "main/label1", "main/label2",
                                                     "main/bool0", "more/label0"}));
}

TEST_F(HeadlessContext, ValuesAreWhatThePageShows)
{
    auto context = read(std::string("<d>") + kWheels +
                        "<page name='p'><label refresh='1'>printf(\"%d degreesC\", temp)</label>"
                        "<progress progress='level / 4' refresh='1'/>"
                        "<bool command='\"b \" + state' refresh='1'>pressure > 0 ? \"F\" : \"C\"</bool>"
                        "<thumbwheel num='0' command='\"gear wheel0 wheel1\"'/></page></d>");
    run(1.0);
    // The device's values as the expressions read them.
    const int temp = compile("temp")->intValue();
    const double quarterLevel = compile("level / 4")->doubleValue();
    ASSERT_GT(compile("pressure")->intValue(), 0);
    EXPECT_EQ(told[0].back(), std::to_string(temp) + " \xCB\x9A" "C");
    EXPECT_NEAR(std::stod(told[1].back()), quarterLevel, 1e-5 * std::abs(quarterLevel));
    EXPECT_EQ(told[2].back(), "OFF");
    EXPECT_EQ(told[3].back(), "1 Fwd");
    context->settleLabelKinds();
    const auto& elements = context->elements();
    EXPECT_TRUE(elements[0].numeric);
    EXPECT_EQ(elements[0].unit, "\xCB\x9A" "C");
    EXPECT_EQ(elements[3].options, (std::vector<std::string>{"1 Fwd", "1 Rev", "2 Fwd", "2 Rev"}));
    // Unchanged values are told once.
    const std::size_t toldBefore = told[0].size();
    run(3.0);
    EXPECT_EQ(told[0].size(), toldBefore);
}

TEST_F(HeadlessContext, TableRowsOfTheirOwnShowTheirTextWithTheIndexOfTheirRow)
{
    auto context = read("<d><table name='t' cellCount='3' indexVar='i' refresh='1'><section title='\"S\"'/>"
                        "<cell left='\"Ten\"' right='printf(\"%d\", i * 10)' index='1'/>"
                        "<cell left='\"x\"' center='temp' right='\"units\"' index='2'/>"
                        "<cell left='\"Open\"' target='other' index='0'/>"
                        "<cell right='i' indexStart='0' indexEnd='2'/></table></d>");
    run(1.0);
    ASSERT_EQ(ids(*context), (std::vector<std::string>{"t/cell0", "t/cell1"}));
    EXPECT_EQ(context->elements()[0].title, "Ten");
    EXPECT_EQ(told[0].back(), "10");
    // The device's value in the centre wins over a constant at the right.
    EXPECT_EQ(told[1].back(), std::to_string(compile("temp")->intValue()));
}

TEST_F(HeadlessContext, CommandsSendWhatATouchSendsAndNothingElse)
{
    auto context = read(std::string("<d>") + kWheels +
                        "<page name='p'><bool command='printf(\"lamp %d %d\", state, temp)' refresh='1'>"
                        "temp > 0 ? \"F\" : \"C\"</bool>"
                        "<bool command='\"quad \" + state' enabled='0' refresh='1'>temp</bool>"
                        "<thumbwheel num='0' command='\"gear wheel0 wheel1\"'/>"
                        "<textfield command='\"speed\"'/><label>temp</label></page></d>");
    run(1.0);
    std::string why;
    // The switch's command reads the device's temp before it goes out.
    EXPECT_TRUE(context->command(0, "1", why));
    EXPECT_TRUE(context->command(2, "2 Rev", why));
    EXPECT_TRUE(context->command(3, "level 7 ", why));
    run(0.5);
    const std::string temp = std::to_string(compile("temp")->intValue());
    // The switch's goes out last: it waits for temp to be fetched afresh;
    // the picker's and the text field's need no value.
    EXPECT_EQ(commandsSent(), (std::vector<std::string>{"cgear 2 Rev\n", "clevel 7 \n", "clamp 1 " + temp + "\n"}));
    // The switch shows the commanded state and holds off the device's "0"
    // for the hold-off time, as a flipped switch on the page does.
    EXPECT_EQ(told[0].back(), "ON");
    run(HeadlessBuildContext::kSwitchHoldOffSeconds + 1.5);
    EXPECT_EQ(told[0].back(), "OFF");

    // Refused: a disabled switch (enabled='0'), an option the
    // picker does not have, a label.
    EXPECT_FALSE(context->command(1, "1", why));
    EXPECT_EQ(why, "the switch is disabled");
    EXPECT_FALSE(context->command(2, "3 Fwd", why));
    EXPECT_FALSE(context->command(4, "x", why));
    EXPECT_FALSE(context->command(99, "x", why));
    run(0.5);
    EXPECT_EQ(commandsSent().size(), 3u);
}

// A command whose values are still being fetched when the device's reading
// ends (the device was lost) must not send, and the binding's late
// refresh must not reach the destroyed context.
TEST_F(HeadlessContext, EndingTheReadingWhileACommandWaitsSendsNothingAndTellsNobody)
{
    auto context = read("<d><page name='p'><bool command='printf(\"lamp %d %d\", state, temp)' refresh='1'>"
                        "temp</bool><label refresh='0.1'>pressure</label></page></d>");
    std::string why;
    EXPECT_TRUE(context->command(0, "1", why));
    const std::size_t toldBefore = told[1].size();
    context.reset();
    run(1.0);
    EXPECT_TRUE(commandsSent().empty());
    EXPECT_EQ(told[1].size(), toldBefore);
}

} // namespace
} // namespace fieldmon::gateway
