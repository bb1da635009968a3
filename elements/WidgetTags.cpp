#include "elements/WidgetTags.h"

namespace fieldmon::widgettags {

namespace {
int counter = kFirstTag;
}

int next()
{
    return counter++;
}

int peek()
{
    return counter;
}

} // namespace fieldmon::widgettags
