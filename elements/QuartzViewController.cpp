#include "elements/QuartzViewController.h"

namespace fieldmon {

QuartzViewController::QuartzViewController(QuartzView* view)
{
    setView(view);
}

void QuartzViewController::setTag(int tag)
{
    RemoteView::setTag(tag);
    if (QuartzView* v = quartzView())
        v->setTag(tag);
}

} // namespace fieldmon
