#include "sim/UiDocCheck.h"

#include "sim/DeviceConfig.h"
#include "sim/UiDeclarations.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace fieldmon::sim;

namespace {

const char* const kExamples[] = {"pump/pump.json", "turbine/turbine.json", "crane/crane.json"};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

DocReport check(const std::string& xml)
{
    std::vector<std::string> errors;
    const auto declared = declaredVariables(declarationTexts(xml, errors), errors);
    return checkUiDocument(xml, declared, errors);
}

DocReport checkExample(const std::string& jsonPath)
{
    std::vector<std::string> errors;
    auto config = loadDeviceConfig(jsonPath, errors);
    EXPECT_TRUE(config && errors.empty()) << jsonPath;
    if (!config)
        return {};
    return check(readFile(config->folder + "/" + config->uiFile));
}

std::string example(const char* name) { return std::string(FIELDMON_SOURCE_DIR) + "/examples/" + name; }

} // namespace

TEST(UiDocCheck, ExamplesHaveNoErrors)
{
    for (const char* name : kExamples) {
        const DocReport r = checkExample(example(name));
        EXPECT_EQ(r.errors(), 0) << r.format(name);
        EXPECT_FALSE(r.used.empty()) << name;
    }
}

TEST(UiDocCheck, ExamplesTogetherUseEveryElementAndAttribute)
{
    std::set<std::pair<std::string, std::string>> used;
    for (const char* name : kExamples) {
        const DocReport r = checkExample(example(name));
        used.insert(r.used.begin(), r.used.end());
    }
    for (const auto& [element, attributes] : uiVocabulary()) {
        EXPECT_TRUE(used.count({element, ""})) << "no example uses <" << element << ">";
        for (const std::string& a : attributes)
            EXPECT_TRUE(used.count({element, a})) << "no example uses " << element << " " << a;
    }
    for (const char* withText : {"label", "bool", "button", "variables"})
        EXPECT_TRUE(used.count({"#text", withText})) << withText << " text";
}

TEST(UiDocCheck, TheWorkedExampleIsPartOfThePump)
{
    const std::string worked = R"(<device>
  <variables>(WORD) speed = 12; (DEC10) temperature = 13;</variables>
  <start initial='main'/>
  <thumb_def>
    <wheel name='Mode'/>
    <entry disp='Off' command='mode 0'/>
    <entry disp='On' command='mode 1'/>
  </thumb_def>
  <page name='main' title='"Overview"' color='(0.9, 0.9, 0.9)' onPageLoad='"status"'>
    <label position='(0.05, 0.10)' size='20' left='1' refresh='1'>speed</label>
    <label position='(0.95, 0.10)' right='1' refresh='2'>temperature</label>
    <arrow position='(0.5, 0.5)' angle='speed / 100' refresh='0.5'/>
    <progress position='(0.1, 0.8)' length='0.5' angle='0' progress='speed / 1000' refresh='1'/>
    <thumbwheel num='0' command='"set wheel0"' position='(0.0, 0.6)' refresh='once'/>
    <infobutton target='details' position='(0.9, 0.9)' refresh='once'/>
  </page>
  <table name='details' title='"Details"' cellCount='2' indexVar='i' refresh='5'>
    <section title='"Readings"' cellCount='2'/>
    <cell left='"Speed"' right='speed' index='0'/>
    <cell left='"Temperature"' right='temperature' index='1'/>
  </table>
)";
    // The pump starts with the worked example, its lines unchanged and in
    // order; its own additions (the button to its controls) lie between them.
    std::istringstream pump(readFile(example("pump/ui.xml"))), workedLines(worked);
    std::string line, wanted;
    while (std::getline(workedLines, wanted)) {
        bool found = false;
        while (!found && std::getline(pump, line))
            found = line == wanted;
        ASSERT_TRUE(found) << "the worked example's line \"" << wanted << "\" is not in the pump in its place";
    }
    const DocReport r = check(worked + "</device>\n");
    EXPECT_EQ(r.issues.size(), 0u) << r.format("worked example");
}

TEST(UiDocCheck, FindsTheMistakesAuthorsMake)
{
    struct Case {
        std::string body; // inside <d> ... </d>, after a start page and the declarations below
        std::string mention;
        bool error;
    };
    const std::string head =
        "<variables>(WORD) speed = 1; (struct) pt { (WORD) x = 0; }; (pt) p = 2;</variables>"
        "<start initial='p'/><page name='p'/>\n";
    const std::vector<Case> cases = {
        {"<page name='q'><label position='(0.5)' refresh='1'>speed</label></page>", "needs at least 2", true},
        {"<page name='q'><label position='0.5, 0.5' refresh='1'>speed</label></page>", "not a bracketed list", true},
        {"<page name='q'><circle position='(0.5, 0.5)' color='(1, 0, 0)' refresh='1'/></page>", "at least 4", true},
        {"<page name='q' color='(1, 1)'/>", "at least 3", true},
        {"<page name='q'><bool position='(0, 0)' refresh='1'>speed</bool></page>", "needs 'command'", true},
        {"<page name='q'><image position='(0, 0)' refresh='1'/></page>", "needs 'file'", true},
        {"<page name='q'><joystick/></page>", "needs 'command'", true},
        {"<table name='t' indexVar='i'/>", "needs 'cellCount'", true},
        {"<table name='t' cellCount='1' indexVar='i'><section/></table>", "needs 'title'", true},
        {"<page name='q'><label position='(0, 0)' colour='1' refresh='1'>speed</label></page>", "no attribute 'colour'",
         true},
        {"<page name='q'><label position='(0, 0)' refresh='often'>speed</label></page>", "is no rate", true},
        {"<page name='q'><label position='(0, 0)' refresh='1'>sped</label></page>", "unknown name 'sped'", true},
        {"<page name='q'><label position='(0, 0)' refresh='1'>p.y</label></page>", "no member 'y'", true},
        {"<page name='q'><label position='(0, 0)' refresh='1'>sqrt(speed)</label></page>", "unknown function", true},
        {"<page name='q'><label position='(0, 0)' refresh='1'>speed != 1</label></page>", "'!'", true},
        {"<page name='q'><label position='(0, 0)' refresh='1'>(speed</label></page>", "not closed", true},
        {"<page name='q'><label position='(0, 0)' refresh='1'>\"open</label></page>", "not closed", true},
        {"<page name='q'><infobutton target='nowhere' position='(0, 0)' refresh='1'/></page>", "names no page", true},
        {"<page name='q'><thumbwheel num='3' command='\"x\"' position='(0, 0)' refresh='1'/></page>",
         "names no 'thumb_def'", true},
        {"<page name='q'><gradient position='(0, 0)' extendOuter='true' refresh='1'/></page>", "only the exact text TRUE",
         false},
        {"<page name='q'><button target='p' refresh='1'/></page>", "not shown", true},
        // Without its text a switch lacks its caption (an error); a label only shows nothing.
        {"<page name='q'><bool command='\"b\"' position='(0, 0)' refresh='1'/></page>", "'bool' has no text", true},
        {"<page name='q'><label position='(0, 0)' refresh='1'/></page>", "'label' has no text", false},
        {"<page name='q'><label position='(0, 0)'>speed</label></page>", "read once, when the page loads", false},
        // The app's own message for what its element table requires.
        {"<page name='q'><picker position='(0, 0)' refresh='1'/></page>", "Didn't provide a command to the bool", true},
        {"<label position='(0, 0)' refresh='1'>speed</label>", "must stand in a 'page'", true},
        {"<page name='q'><section title='\"s\"'/></page>", "belongs in a 'table'", true},
        {"<wheel name='w'/>", "belongs in a 'thumb_def'", true},
        {"<thumb_def><entry disp='a'/></thumb_def>", "before any 'wheel'", true},
        {"<page name='q'><page name='r'/></page>", "directly in the root", true},
        {"<page name='q'><cell left='\"a\"'/></page>", "belongs in a 'table'", true},
        {"<table name='t' cellCount='1' indexVar='i'><cell left='j' index='0'/></table>", "unknown name 'j'", true},
        {"<page name='p'/>", "replaces the first", false},
        {"<pages/>", "not part of the format", false},
        {"<page name='q'><label position='(0, 0)' refresh='1'>speed</label>", "syntax error", true},
        {"<variables>(widget) w = 3;</variables>", "unknown type 'widget'", true},
        {"<page name='q'><label position='(0, 0)' refresh='1'>\xc3\xa9</label></page>", "7-bit ASCII", true},
    };
    for (const Case& c : cases) {
        const DocReport r = check("<d>" + head + c.body + "</d>");
        bool found = false;
        for (const DocIssue& i : r.issues)
            found = found || (i.text.find(c.mention) != std::string::npos && i.error == c.error);
        EXPECT_TRUE(found) << c.body << "\n" << r.format("doc");
    }
}

TEST(UiDocCheck, LocalNamesAreKnownWhereTheyExist)
{
    // state in a switch command, x and y in the joystick, the index variable in cells
    const std::string doc = "<d><variables>(WORD) speed = 1;</variables><start initial='p'/>"
                            "<page name='p'><bool command='\"pump \" + state' position='(0, 0)' refresh='1'>speed</bool>"
                            "<joystick command='printf(\"move %f %f\", x, y)' quad='x > y' rate='0.5'/></page>"
                            "<table name='t' cellCount='3' indexVar='row' refresh='1'>"
                            "<cell left='printf(\"%d\", row)' indexStart='0'/></table>"
                            "<page name='r'><label position='(0, 0)' refresh='1'>state + x + row</label></page></d>";
    const DocReport r = check(doc);
    EXPECT_EQ(r.errors(), 3) << r.format("doc") << "state, x and row are unknown outside their widgets";
}

TEST(UiDocCheck, RootMustNotBeAVocabularyWordAndStartMustNameAPage)
{
    EXPECT_GE(check("<page name='p'/>").errors(), 1);
    const DocReport noStart = check("<d><page name='p'/></d>");
    EXPECT_EQ(noStart.errors(), 0);
    EXPECT_EQ(noStart.warnings(), 1);
    EXPECT_EQ(check("<d><start initial='q'/><page name='p'/></d>").errors(), 1);
}
