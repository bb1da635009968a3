#include "sim/UiDeclarations.h"

namespace fieldmon::sim {

// FIXME: uses the app's declaration parser once it is on main; until then a
// device runs without a variable layout.
std::vector<DeclaredVariable> declaredVariables(const std::vector<std::string>& texts, std::vector<std::string>& errors)
{
    if (!texts.empty())
        errors.push_back("variable declarations are not read yet");
    return {};
}

} // namespace fieldmon::sim
