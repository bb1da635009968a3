#include "sim/UiDocCheck.h"

#include "sim/ExpressionLint.h"
#include "uidesc/ElementTable.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace fieldmon::sim {

const std::vector<std::pair<std::string, std::vector<std::string>>>& uiVocabulary()
{
    // The app's element table, as names: the one place the format is written.
    static const auto v = [] {
        std::vector<std::pair<std::string, std::vector<std::string>>> names;
        for (const uidesc::ElementSpec& e : uidesc::elementTable()) {
            std::vector<std::string> attributes;
            for (const uidesc::AttributeSpec& a : e.attributes)
                attributes.emplace_back(a.name);
            names.emplace_back(std::string(e.name), std::move(attributes));
        }
        return names;
    }();
    return v;
}

int DocReport::errors() const
{
    return static_cast<int>(std::count_if(issues.begin(), issues.end(), [](const DocIssue& i) { return i.error; }));
}

int DocReport::warnings() const { return static_cast<int>(issues.size()) - errors(); }

std::string DocReport::format(const std::string& file) const
{
    std::string out;
    for (const DocIssue& i : issues)
        out += file + ":" + std::to_string(i.line) + ": " + (i.error ? "error: " : "warning: ") + i.text + "\n";
    return out;
}

namespace {

const uidesc::AttributeSpec* attributeOf(const std::string& element, const std::string& attribute)
{
    const uidesc::ElementSpec* spec = uidesc::findElement(element);
    return spec ? spec->attribute(attribute) : nullptr;
}

bool isWidget(const std::string& element)
{
    const uidesc::ElementSpec* spec = uidesc::findElement(element);
    return spec && spec->isWidget();
}

bool isPageOpener(const std::string& element)
{
    const uidesc::ElementSpec* spec = uidesc::findElement(element);
    return spec && spec->role == uidesc::ElementRole::PageOpener;
}

bool takesText(const std::string& element)
{
    const uidesc::ElementSpec* spec = uidesc::findElement(element);
    return spec && spec->text != uidesc::CharacterData::None;
}

bool takesRate(const std::string& element)
{
    const uidesc::ElementSpec* spec = uidesc::findElement(element);
    return spec && spec->takesRate();
}

// Attributes that hold one expression.
bool isExpressionAttribute(const std::string& element, const std::string& attribute)
{
    const uidesc::AttributeSpec* a = attributeOf(element, attribute);
    return a && (a->kind == uidesc::AttributeKind::Expression || a->kind == uidesc::AttributeKind::TrimmedExpression);
}

// Argument-list attributes and their minimum counts (0: not a list).
int argumentListMinimum(const std::string& element, const std::string& attribute)
{
    const uidesc::AttributeSpec* a = attributeOf(element, attribute);
    return a && a->kind == uidesc::AttributeKind::ArgumentList ? a->minimumArguments : 0;
}

bool validRate(const std::string& text)
{
    if (text.find("once") != std::string::npos || text.find("load") != std::string::npos)
        return true;
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    return end != text.c_str() && seconds > 0;
}

class Checker {
public:
    Checker(const std::vector<DeclaredVariable>& declared, DocReport& report) : report_(report)
    {
        for (const DeclaredVariable& d : declared) {
            names_.variables.insert(d.name);
            if (!d.members.empty()) {
                auto& m = members_[d.name];
                for (const auto& member : d.members)
                    m.insert(member.name);
            }
        }
        names_.members = [this](const std::string& v) -> const std::set<std::string>* {
            auto it = members_.find(v);
            return it == members_.end() ? nullptr : &it->second;
        };
    }

    void issue(int line, bool error, std::string text) { report_.issues.push_back(DocIssue{line, error, std::move(text)}); }

    void expression(int line, const std::string& where, const std::string& text, const std::set<std::string>& locals)
    {
        LintNames names = names_;
        names.locals = locals;
        for (const std::string& p : lintExpression(text, names))
            issue(line, true, where + ": " + p + " in '" + text + "'");
    }

    void start(const QXmlStreamReader& r)
    {
        const int line = static_cast<int>(r.lineNumber());
        const std::string name = r.name().toString().toStdString();
        const bool atRoot = stack_.empty();
        stack_.push_back(name);
        text_.clear();

        const uidesc::ElementSpec* vocab = uidesc::findElement(name);
        if (atRoot) {
            if (vocab)
                issue(line, true, "the root element must not be named '" + name + "' (a vocabulary word)");
            return;
        }
        if (!vocab) {
            issue(line, false, "element '" + name + "' is not part of the format and is ignored");
            return;
        }
        vocab_ = vocab;
        report_.used.insert({name, ""});

        std::map<std::string, std::string> attrs;
        for (const QXmlStreamAttribute& a : r.attributes()) {
            const std::string key = a.name().toString().toStdString();
            attrs[key] = a.value().toString().toStdString();
            if (!vocab->attribute(key))
                issue(line, true, "'" + name + "' takes no attribute '" + key + "'");
            else
                report_.used.insert({name, key});
        }
        auto has = [&](const char* k) { return attrs.count(k) > 0; };
        auto require = [&](const char* k, const std::string& consequence) {
            if (!has(k))
                issue(line, true, "'" + name + "' needs '" + k + "': " + consequence);
        };

        placement(line, name);

        const uidesc::ElementSpec* spec = uidesc::findElement(name);
        std::set<std::string> locals;
        if (spec)
            for (std::string_view local : spec->localVariables)
                locals.emplace(local);
        if (name == "cell" && inTable_)
            locals.insert(partsLocal_);

        for (const auto& [key, value] : attrs) {
            const std::string where = name + " " + key;
            if (isExpressionAttribute(name, key))
                expression(line, where, value, locals);
            if (int minimum = argumentListMinimum(name, key)) {
                bool bracketsOk = false;
                const auto args = splitArgumentList(value, bracketsOk);
                if (!bracketsOk)
                    issue(line, true, where + ": '" + value + "' is not a bracketed list such as (0.5, 0.5)");
                if (static_cast<int>(args.size()) < minimum)
                    issue(line, true, where + ": needs at least " + std::to_string(minimum) + " arguments, has " +
                                          std::to_string(args.size()));
                for (const std::string& arg : args)
                    expression(line, where, arg, locals);
            }
            if (key == "refresh" || key == "update") {
                if (!validRate(value))
                    issue(line, true, where + ": '" + value + "' is no rate (seconds above 0, \"once\" or \"load\")");
            }
            if (key == "extendOuter" || key == "extendInner") {
                if (value != "TRUE" && value != "FALSE")
                    issue(line, false, where + ": only the exact text TRUE switches this on; '" + value + "' means no");
            }
        }

        if (takesRate(name) && !has("refresh") && !has("update"))
            issue(line, false, "'" + name +
                                   "' has neither 'refresh' nor 'update': its values are read once, when the page loads");

        // What the app needs, as its element table says.
        for (const uidesc::AttributeSpec& a : vocab_->attributes)
            if (a.required && !has(std::string(a.name).c_str()))
                issue(line, true, "'" + name + "' needs '" + std::string(a.name) + "': the app reports \"" +
                                      std::string(a.message) + "\" and builds nothing");

        if (name == "start") {
            require("initial", "no first page");
            if (has("initial"))
                initial_ = {line, attrs["initial"]};
        } else if (name == "thumb_def") {
            ++thumbDefs_;
        } else if (name == "page" || name == "table") {
            if (has("name")) {
                if (pages_.count(attrs["name"]))
                    issue(line, false, "a second page named '" + attrs["name"] + "' replaces the first");
                pages_.insert(attrs["name"]);
            }
            if (name == "table") {
                const std::string_view local = uidesc::findElement(name)->partsLocalAttribute;
                inTable_ = has("cellCount") && !local.empty() && attrs.count(std::string(local)) > 0;
                partsLocal_ = inTable_ ? attrs[std::string(local)] : std::string();
            }
        } else if (name == "cell") {
            if ((has("indexStart") || has("indexEnd")) && has("index"))
                issue(line, false, "'cell' has 'index' as well as a range; the index is ignored");
        }
        if (name == "thumbwheel") {
            const std::string num = has("num") ? attrs["num"] : "0";
            thumbRefs_.push_back({line, std::atoi(num.c_str())});
        }
        if (name == "picker")
            issue(line, false, "'picker' has no definition number; 'thumbwheel' with 'num' is the sure form");
        if (has("target") && (isPageOpener(name) || name == "cell"))
            targets_.push_back({line, attrs["target"]});
        if (isWidget(name) && attributeOf(name, "position") && !isPageOpener(name) && !has("position"))
            issue(line, false, "'" + name + "' has no 'position'; it sits at the top left corner");
    }

    void placement(int line, const std::string& name)
    {
        const std::string parent = stack_.size() >= 2 ? stack_[stack_.size() - 2] : "";
        const bool parentIsRoot = stack_.size() == 2;
        if (name == "page" || name == "table" || name == "start" || name == "thumb_def" || name == "variables") {
            if (!parentIsRoot)
                issue(line, true, "'" + name + "' must stand directly in the root element, not in '" + parent + "'");
            if (name == "page" || name == "table")
                currentPage_ = name;
            return;
        }
        if (name == "wheel" || name == "entry") {
            if (parent != "thumb_def")
                issue(line, true, "'" + name + "' belongs in a 'thumb_def'");
            if (name == "wheel")
                wheelSeen_ = true;
            else if (!wheelSeen_)
                issue(line, true, "'entry' before any 'wheel' of its 'thumb_def'");
            return;
        }
        if (name == "section" || name == "cell") {
            if (parent != "table")
                issue(line, true, "'" + name + "' belongs in a 'table' (elsewhere it is ignored)");
            return;
        }
        if (isWidget(name)) {
            if (parent != "page" && parent != "table")
                issue(line, true, "'" + name + "' must stand in a 'page' or 'table'");
        }
    }

    void characters(const QXmlStreamReader& r)
    {
        if (!stack_.empty())
            text_ += r.text().toString().toStdString();
    }

    void end(const QXmlStreamReader& r)
    {
        const int line = static_cast<int>(r.lineNumber());
        if (stack_.empty())
            return;
        const std::string name = stack_.back();
        stack_.pop_back();
        const uidesc::ElementSpec* spec = uidesc::findElement(name);
        const bool blank = text_.find_first_not_of(" \t\r\n") == std::string::npos;
        if (!blank && stack_.size() >= 1) {
            if (!takesText(name))
                issue(line, false, "text in '" + name + "' is ignored");
            else
                report_.used.insert({"#text", name});
            if (spec && spec->textIsExpression())
                expression(line, name + " text", text_, {});
        } else if (spec && spec->withoutText != uidesc::WithoutText::Fine) {
            const uidesc::WithoutText without = spec->withoutText;
            issue(line, without != uidesc::WithoutText::Blank,
                  "'" + name + "' has no text" + (without == uidesc::WithoutText::NotShown ? ": the button is not shown" : ""));
        }
        if (name == "page" || name == "table") {
            currentPage_.clear();
            inTable_ = false;
        }
        if (name == "thumb_def")
            wheelSeen_ = false;
        text_.clear();
    }

    void finish(int lastLine)
    {
        if (initial_.second.empty())
            issue(lastLine, false, "no 'start' element: the device shows no first page");
        else if (!pages_.count(initial_.second))
            issue(initial_.first, true, "'start' names '" + initial_.second + "', which no page or table has");
        for (const auto& [line, target] : targets_)
            if (!pages_.count(target))
                issue(line, true, "target '" + target + "' names no page or table");
        for (const auto& [line, num] : thumbRefs_)
            if (num < 0 || num >= thumbDefs_)
                issue(line, true, "thumbwheel 'num' " + std::to_string(num) + " names no 'thumb_def' (there are " +
                                      std::to_string(thumbDefs_) + ")");
    }

private:
    DocReport& report_;
    const uidesc::ElementSpec* vocab_ = nullptr;
    LintNames names_;
    std::map<std::string, std::set<std::string>> members_;
    std::vector<std::string> stack_;
    std::string text_;
    std::string currentPage_;
    bool inTable_ = false;
    std::string partsLocal_; // the enclosing table's index variable
    bool wheelSeen_ = false;
    int thumbDefs_ = 0;
    std::set<std::string> pages_;
    std::pair<int, std::string> initial_;
    std::vector<std::pair<int, std::string>> targets_;
    std::vector<std::pair<int, int>> thumbRefs_;
};

} // namespace

DocReport checkUiDocument(const std::string& xml, const std::vector<DeclaredVariable>& declared,
                          const std::vector<std::string>& declarationErrors)
{
    DocReport report;
    for (const std::string& e : declarationErrors)
        report.issues.push_back(DocIssue{0, true, "declarations: " + e});
    for (std::size_t i = 0; i < xml.size(); ++i)
        if (static_cast<unsigned char>(xml[i]) > 127) {
            const int line = 1 + static_cast<int>(std::count(xml.begin(), xml.begin() + static_cast<long>(i), '\n'));
            report.issues.push_back(DocIssue{line, true, "the document must be 7-bit ASCII"});
            break;
        }

    Checker checker(declared, report);
    QXmlStreamReader r(QByteArray::fromStdString(xml));
    r.setNamespaceProcessing(false);
    while (!r.atEnd()) {
        switch (r.readNext()) {
        case QXmlStreamReader::StartElement:
            checker.start(r);
            break;
        case QXmlStreamReader::EndElement:
            checker.end(r);
            break;
        case QXmlStreamReader::Characters:
            checker.characters(r);
            break;
        default:
            break;
        }
    }
    if (r.hasError()) {
        report.issues.push_back(
            DocIssue{static_cast<int>(r.lineNumber()), true, "syntax error: " + r.errorString().toStdString()});
        return report;
    }
    checker.finish(static_cast<int>(r.lineNumber()));
    std::stable_sort(report.issues.begin(), report.issues.end(),
                     [](const DocIssue& a, const DocIssue& b) { return a.line < b.line; });
    return report;
}

} // namespace fieldmon::sim
