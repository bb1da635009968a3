#include "uidesc/BuilderRegistry.h"

#include "platform/Check.h"
#include "uidesc/ElementTable.h"

namespace fieldmon::uidesc {

void BuilderRegistry::add(std::string_view name, ElementBuilder builder)
{
    const ElementSpec* spec = findElement(name);
    FM_CHECK(spec != nullptr, "a builder for an element the table does not list");
    FM_CHECK(builder.start != nullptr, "a builder needs a start function");
    bool added = builders_.emplace(spec->name, builder).second;
    FM_CHECK(added, "two builders for one element");
}

void BuilderRegistry::replace(std::string_view name, ElementBuilder builder)
{
    const ElementSpec* spec = findElement(name);
    FM_CHECK(spec != nullptr && builder.start != nullptr, "a builder for an element the table does not list");
    builders_[spec->name] = builder;
}

const ElementBuilder* BuilderRegistry::find(std::string_view name) const
{
    auto it = builders_.find(name);
    return it == builders_.end() ? nullptr : &it->second;
}

} // namespace fieldmon::uidesc
