#pragma once
// QuartzViewController: a widget whose view is a full-page overlay
// (QuartzView) that draws at page coordinates computed from its expressions
// and lets touches through, except where a subclass takes them. The base of
// the gradient, the circle, the joystick and the event heads-up display.
//
// Its responder is its view, so it takes part in the page's responder chain;
// the gradient and the circle take no part (they answer null).
//
// Thread rule: main thread only.

#include "elements/QuartzView.h"
#include "elements/RemoteView.h"

namespace fieldmon {

class QuartzViewController : public RemoteView {
public:
    QuartzView* quartzView() const { return static_cast<QuartzView*>(view()); }
    QObject* responder() override { return view(); }
    void setTag(int tag) override;

protected:
    // Takes ownership of the drawing view.
    explicit QuartzViewController(QuartzView* view);
};

} // namespace fieldmon
