// The reader without widgets: a build context of Qt Core only, as a
// headless one (the gateway's) will be, counts what a document builds and
// feeds its bindings from a fake device. This binary links the reader's
// library and the core, and no Qt Gui or Widgets: a reader that needed a
// widget would not link.

#include "device/SchedulerFixture.h"
#include "uidesc/BuildContext.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"
#include "uidesc/XMLReader.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

using namespace fieldmon;

namespace {

// Counts elements by name and the values its bindings were told, by
// "element attribute" ("label #text" for character data).
struct CountingContext final : uidesc::BuildContext {
    uidesc::BuilderRegistry registry;
    std::optional<std::string> startPage;
    std::map<std::string, int> built;
    std::map<std::string, int> told;
    std::vector<std::shared_ptr<void>> kept;

    CountingContext();
    const uidesc::BuilderRegistry& builders() const override { return registry; }
    void setStartPageName(std::optional<std::string> name) override { startPage = std::move(name); }
    // Nothing is on a screen: every binding always wants its values.
    std::function<bool()> redrawRequest() override { return [] { return true; }; }
    void keep(std::shared_ptr<void> object) override { kept.push_back(std::move(object)); }
};

// What a headless binding holds: the element's name and a tally to tell.
struct Tally {
    std::map<std::string, int>* told;
    std::string key;
    void update() { ++(*told)[key]; }
};

std::shared_ptr<Tally> tallyOf(uidesc::ElementBuild& b, std::string_view what)
{
    auto tally = std::make_shared<Tally>(
        Tally{&b.context<CountingContext>().told, std::string(b.spec().name) + " " + std::string(what)});
    b.keep(tally);
    return tally;
}

// Every expression of the element bound, and its argument lists checked.
bool countAndBind(uidesc::ElementBuild& b)
{
    ++b.context<CountingContext>().built[std::string(b.spec().name)];
    for (const uidesc::AttributeSpec& a : b.spec().attributes) {
        if (a.kind == uidesc::AttributeKind::Expression || a.kind == uidesc::AttributeKind::TrimmedExpression)
            b.bind(b.compile(a.name), tallyOf(b, a.name), &Tally::update);
        using Setter = void (Tally::*)(uidesc::ElementBuild::NodePtr);
        if (a.kind == uidesc::AttributeKind::ArgumentList &&
            !b.arguments<Tally>(a.name, tallyOf(b, a.name), std::initializer_list<Setter>{}, &Tally::update))
            return false;
    }
    return true;
}

void bindText(uidesc::ElementBuild& b)
{
    if (b.hasCharacterData())
        b.bind(b.compileText(uidesc::trimmed(b.characterData())), tallyOf(b, "#text"), &Tally::update);
}

CountingContext::CountingContext()
{
    for (const uidesc::ElementSpec& e : uidesc::elementTable())
        if (e.role == uidesc::ElementRole::Page || e.role == uidesc::ElementRole::TablePart || e.isWidget())
            registry.add(e.name, {countAndBind, e.text == uidesc::CharacterData::None ? nullptr : bindText});
}

struct HeadlessReading : test::SchedulerFixture {};

} // namespace

TEST_F(HeadlessReading, ADocumentBuildsItsBindingsThroughTheContextAndTheDeviceFeedsThem)
{
    CountingContext context;
    XMLReader reader(context);
    reader.setClient(client);
    quietly([&] {
        EXPECT_TRUE(reader.parseXMLFileAtString(
            "<d><variables>(int) speed = 3;</variables><start initial='main'/>"
            "<thumb_def><wheel name='Mode'/><entry disp='Off' command='mode 0'/></thumb_def>\n"
            "<page name='main'><label position='(0.1, 0.2)' refresh='1'>temp</label>\n"
            "<bool command='\"b\"' refresh='1'>pressure</bool><arrow position='(0.5)' angle=' level / 10 '/>\n"
            "<widget/></page>"
            "<table name='t' cellCount='2' indexVar='i' refresh='1'><section title='\"S\"'/>"
            "<cell left='\"a\"' right='temp'/></table></d>"));
    });
    EXPECT_EQ(reader.errors(), "Not enough args to the arrow:line 3\n");
    EXPECT_EQ(context.startPage, "main");
    EXPECT_EQ(context.built, (std::map<std::string, int>{{"arrow", 1}, {"bool", 1}, {"cell", 1}, {"label", 1}, {"page", 1}, {"section", 1}, {"table", 1}}));
    // The reader's own elements went to the device, not to the context.
    EXPECT_TRUE(client->variables().varDict().count("speed"));
    EXPECT_EQ(client->thumbwheels().display(0, 0, 0), "Off");
    // Constants are told at once; device values once the device answers.
    EXPECT_EQ(context.told["bool command"], 1);
    EXPECT_EQ(context.told["label #text"], 0);
    run(1.0);
    for (const char* bound : {"label #text", "bool #text", "arrow angle", "cell right", "table cellCount"})
        EXPECT_GE(context.told[bound], 1) << bound;
    EXPECT_TRUE(client->variables().varDict().at("temp")->hasAddress());
}
