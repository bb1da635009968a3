#include "expr/RemoteAccess.h"

#include "platform/Diagnostics.h"
#include "variables/RemoteData.h"
#include "variables/VariableStore.h"


namespace fieldmon::expr {

std::shared_ptr<RemoteData> structureElement(RemoteData& structure, const std::string& element, bool debug,
                                             bool& failed)
{
    failed = false;
    VariableStore* store = structure.remoteClient();
    std::shared_ptr<RemoteData> type = store ? store->typeNamed(structure.type()) : nullptr;
    if (!type) {
        diag("Error: Invalid data type '%s'\n", structure.type().c_str());
        failed = true;
        return nullptr;
    }
    if (!structure.structureType()) {
        diag("Error: '%s' Data type '%s' isn't a structure\n", structure.name().c_str(),
             structure.type().c_str());
        failed = true;
        return nullptr;
    }
    if (type->elements().find(element) == type->elements().end()) {
        diag("Error: Couldn't find structure element '%s'\n", element.c_str());
        failed = true;
        return nullptr;
    }
    if (debug)
        diag("Found a structure and looking for element '%s'\n", element.c_str());
    if (!structure.hasAddress()) {
        diag("Not ready!\n");
        return nullptr;
    }
    return structure.structureElement(element);
}

} // namespace fieldmon::expr
