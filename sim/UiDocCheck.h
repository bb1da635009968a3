#pragma once
// UiDocCheck: checks a device's UI description (ui.xml) against the document
// format before any app reads it, so that a device author sees every
// problem at once with its line: elements outside the vocabulary or out of
// place, unknown or missing attributes, argument lists that are too short or
// not bracketed, rates and flags that do not mean what they seem to,
// references to pages and thumbwheel definitions that do not exist, and
// expressions that use undeclared names. It also records which elements and
// attributes a document uses, so tests can show that a set of example
// documents covers the whole format.
//
// Thread rule: pure functions.

#include "sim/DeviceMemory.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fieldmon::sim {

struct DocIssue {
    int line = 0;
    bool error = true; // false: a warning (the document works, perhaps not as meant)
    std::string text;
};

struct DocReport {
    std::vector<DocIssue> issues;
    // (element, attribute) pairs used; (element, "") for each element used,
    // and ("#text", element) for character data in an element.
    std::set<std::pair<std::string, std::string>> used;

    int errors() const;
    int warnings() const;
    std::string format(const std::string& file) const;
};

// Checks `xml`. `declared` are the device's variables as its declarations
// give them (for the expression checks); declaration problems go in
// `declarationErrors` and are reported as errors.
DocReport checkUiDocument(const std::string& xml, const std::vector<DeclaredVariable>& declared,
                          const std::vector<std::string>& declarationErrors = {});

// The whole vocabulary: every element with every attribute it takes.
const std::vector<std::pair<std::string, std::vector<std::string>>>& uiVocabulary();

} // namespace fieldmon::sim
