#pragma once
// Declarations built by hand for the memory and request tests, so that they
// do not depend on the declaration parser.

#include "sim/DeviceMemory.h"

namespace fieldmon::sim::test {

inline DeclaredVariable var(const char* name, const char* type, int index, std::uint32_t size)
{
    DeclaredVariable d;
    d.name = name;
    d.type = type;
    d.index = index;
    d.size = size;
    return d;
}

inline DeclaredVariable pointVar(const char* name, int index)
{
    DeclaredVariable d = var(name, "point", index, 4);
    d.members = {{"x", "SWORD", 0, 2}, {"y", "SWORD", 2, 2}};
    return d;
}

} // namespace fieldmon::sim::test
