#include "app/DisplayBar.h"

namespace fieldmon {

void DisplayBar::didShow(NavigationStack& stack, Screen& screen, bool animated)
{
    stack.setNavigationBarHidden(screen.title() == QLatin1String("Control"), animated);
}

} // namespace fieldmon
