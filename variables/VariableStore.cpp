#include "variables/VariableStore.h"

#include "platform/Diagnostics.h"
#include "variables/DeclarationParser.h"


namespace fieldmon {

VariableStore::VariableStore(Link link) : link_(std::move(link)), requests_(*this) {}

VariableStore::~VariableStore() = default;

std::shared_ptr<RemoteData> VariableStore::variableNamed(const std::string& name) const
{
    auto it = varDict_.find(name);
    return it == varDict_.end() ? nullptr : it->second;
}

std::shared_ptr<RemoteData> VariableStore::typeNamed(const std::string& name) const
{
    auto it = globalDataTypes_.find(name);
    return it == globalDataTypes_.end() ? nullptr : it->second;
}

void VariableStore::parseVariableDeclaration(std::string_view text)
{
    for (auto& v : parseVariableDeclarationArray(text)) {
        v->setBase(true);
        std::string name = v->name();
        varDict_.insert_or_assign(std::move(name), std::move(v));
    }
    if (debug())
        printRemoteData();
}

std::vector<std::shared_ptr<RemoteData>> VariableStore::parseVariableDeclarationArray(std::string_view text)
{
    const bool dbg = debug();
    std::vector<std::shared_ptr<RemoteData>> vars;
    for (std::string_view statement : DeclarationParser::split(text)) {
        DeclarationParser::Statement st = DeclarationParser::parse(statement, dbg);
        if (st.body) {
            std::string name = st.name.value_or(std::string());
            if (st.type == "struct")
                initDataType(name, *st.body);
            else
                initEnumType(name, *st.body);
            continue;
        }
        // Only white space, or a type whose ')' never came: nothing declared.
        if (!st.name)
            continue;
        std::string indexText = st.index.value_or("-1000000000");
        std::string type = st.type.value_or("BYTE");
        if (dbg)
            diag("Variable of name '%s' and type '%s' and index '%s'\n", st.name->c_str(), type.c_str(),
                 indexText.c_str());
        vars.push_back(createVar(std::move(*st.name), std::move(type), expr::leadingInt(indexText)));
    }
    return vars;
}

std::vector<std::string> VariableStore::splitVariables(std::string_view text)
{
    std::vector<std::string> out;
    for (std::string_view s : DeclarationParser::split(text))
        out.emplace_back(s);
    return out;
}

std::shared_ptr<RemoteData> VariableStore::createVar(std::string name, std::string type, std::int32_t index)
{
    if (debug())
        diag("Name: '%s', Type: '%s', withOffset: '%d'\n", name.c_str(), type.c_str(), index);
    auto v = RemoteData::create(this);
    v->setName(std::move(name));
    v->setType(std::move(type));
    v->setIndex(index);
    return v;
}

void VariableStore::initDataType(const std::string& name, std::string_view body)
{
    const bool dbg = debug();
    if (dbg)
        diag("Recursing to parse '%.*s'\n", static_cast<int>(body.size()), body.data());
    auto members = parseVariableDeclarationArray(body);
    if (dbg)
        diag("Done with recurse\n");

    auto type = createVar("struct", name, -1);
    std::int64_t declared = -1;
    std::int64_t sum = 0;
    for (auto& m : members) {
        if (m->name() == "size" && m->type() == "size_t") {
            declared = m->varIndex();
            continue;
        }
        // No padding: members sit at the offsets their indexes declare.
        sum += m->size();
        std::string key = m->name();
        type->elements().insert_or_assign(std::move(key), std::move(m));
    }
    std::int64_t size = declared != -1 ? declared : sum;
    if (size > RemoteData::kMaxStorageSize)
        size = RemoteData::kMaxStorageSize;
    if (dbg)
        diag("Structure is of size '%d'\n", static_cast<int>(size));
    type->setSize(static_cast<std::int32_t>(size));
    globalDataTypes_.insert_or_assign(name, std::move(type));
}

void VariableStore::initEnumType(const std::string& name, std::string_view body)
{
    const bool dbg = debug();
    if (dbg)
        diag("Recursing to parse '%.*s' for the enum\n", static_cast<int>(body.size()), body.data());
    auto enumerators = parseVariableDeclarationArray(body);
    if (dbg)
        diag("Done with recurse\n");

    auto type = createVar(" enum", name, -1);
    type->setSize(1);
    // Unsigned so that counting past the largest int wraps instead of
    // overflowing.
    std::uint32_t counter = 0;
    for (const auto& e : enumerators) {
        if (e->varIndex() != RemoteData::kNoIndex)
            counter = static_cast<std::uint32_t>(e->varIndex());
        auto element = createVar(e->name(), " enumElement", -1);
        type->elements().insert_or_assign(std::to_string(static_cast<std::int32_t>(counter)), std::move(element));
        ++counter;
    }
    globalDataTypes_.insert_or_assign(name, std::move(type));
}

void VariableStore::printRemoteData() const
{
    for (const auto& [name, type] : globalDataTypes_)
        type->printRemoteDataWithIndentation(0);
    for (const auto& [name, var] : varDict_)
        var->printRemoteDataWithIndentation(0);
}

} // namespace fieldmon
