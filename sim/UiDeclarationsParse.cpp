#include "sim/UiDeclarations.h"

#include "variables/VariableStore.h"

#include <cstdlib>

namespace fieldmon::sim {

std::vector<DeclaredVariable> declaredVariables(const std::vector<std::string>& texts, std::vector<std::string>& errors)
{
    // The app's own parser, so that the device lays out exactly what the app
    // will ask for. Type definitions collect in the store's type table.
    VariableStore store(VariableStore::Link{});
    std::vector<std::shared_ptr<RemoteData>> parsed;
    for (const std::string& text : texts)
        for (auto& v : store.parseVariableDeclarationArray(text))
            parsed.push_back(std::move(v));

    std::vector<DeclaredVariable> out;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const RemoteData& v = *parsed[i];
        bool replacedLater = false;
        for (std::size_t j = i + 1; j < parsed.size(); ++j)
            replacedLater = replacedLater || parsed[j]->name() == v.name();
        if (replacedLater) {
            errors.push_back("variable '" + v.name() + "' is declared twice; the later declaration counts");
            continue;
        }
        DeclaredVariable d;
        d.name = v.name();
        d.type = v.type();
        d.index = v.varIndex();
        d.size = static_cast<std::uint32_t>(std::max(0, v.size()));
        if (d.size == 0)
            errors.push_back("variable '" + v.name() + "' has the unknown type '" + v.type() + "'");
        if (auto type = store.typeNamed(v.type())) {
            if (type->name() == "struct") {
                for (const auto& [memberName, member] : type->elements())
                    d.members.push_back(DeclaredVariable::Member{memberName, member->type(),
                                                                 static_cast<std::uint32_t>(std::max(0, member->varIndex())),
                                                                 static_cast<std::uint32_t>(std::max(0, member->size()))});
            } else if (type->name() == " enum") {
                for (const auto& [value, element] : type->elements())
                    d.enumerators[element->name()] = std::atoi(value.c_str());
            }
        }
        out.push_back(std::move(d));
    }
    return out;
}

} // namespace fieldmon::sim
