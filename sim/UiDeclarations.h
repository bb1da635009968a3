#pragma once
// UiDeclarations: the variables a device declares in its own UI description.
// The text of every "variables" element of ui.xml goes through the same
// declaration parser as in the app, and the result is flattened into the
// DeclaredVariable records that DeviceMemory lays out.
//
// Thread rule: any thread (no shared state).

#include "sim/DeviceMemory.h"

#include <string>
#include <vector>

namespace fieldmon::sim {

// The character data of the "variables" elements, one entry per piece as an
// event-driven parser delivers it. Unreadable XML adds a message to `errors`.
std::vector<std::string> declarationTexts(const std::string& xml, std::vector<std::string>& errors);

std::vector<DeclaredVariable> declaredVariables(const std::vector<std::string>& texts,
                                                std::vector<std::string>& errors);

} // namespace fieldmon::sim
