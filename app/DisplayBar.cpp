#include "app/DisplayBar.h"

namespace fieldmon {

void DisplayBar::didShow(NavigationStack& stack, Screen& screen, bool animated)
{
    if (screen.title() == QLatin1String("Control"))
        stack.setNavigationBarHidden(true, animated);
}

} // namespace fieldmon
