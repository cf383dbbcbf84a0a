#pragma once

#include <algorithm>
#include <cmath>
#include <utility>

namespace lumora {

// Where the editor's estimated heights were corrected since the view last
// heard of it, and the anchor: the top of what the view shows, in document
// coordinates, kept to the fraction of a pixel.
//
// When a block wholly above the anchor turns out taller or shorter than its
// estimate, the text the view shows moves: the anchor moves with it at
// once (so that the blocks after it are judged against where the view's
// text now is), and the shift waits to be reported, so that the view can
// scroll by it and keep its text where it was. Whole-pixel scrolls never
// add up to a drift, for the anchor keeps the fraction.
class HeightCorrections {
public:
    double anchor() const { return m_anchor; }

    // The view scrolled to y. A scroll to where the anchor stands (the
    // nearest whole pixel) is the view following the layout and keeps the
    // fraction; any other starts afresh: corrections noted but not yet
    // reported belonged to the old place. Ignored while held.
    void setAnchor(double y)
    {
        if (m_holding) return;
        if (std::lround(m_anchor) == std::lround(y) && std::abs(m_anchor - y) < 1.0) return;
        m_anchor = y;
        m_shift = 0.0;
    }

    // A block at oldTop (below the page's top margin pageTop) changed its
    // height from oldHeight to newHeight outside an edit.
    void note(double pageTop, double oldTop, double oldHeight, double newHeight)
    {
        if (newHeight == oldHeight) return;
        if (pageTop + oldTop + oldHeight <= m_anchor) {
            m_shift += newHeight - oldHeight;
            m_anchor += newHeight - oldHeight;
        }
        m_dirtyTop = m_dirtyTop < 0.0 ? oldTop : std::min(m_dirtyTop, oldTop);
    }

    // Whether anything waits to be reported.
    bool waiting() const { return m_dirtyTop >= 0.0 || m_shift != 0.0; }
    bool shifted() const { return m_shift != 0.0; }
    // While held, scrolls the view makes are its following the layout (a
    // range clamped to a new size), not the writer's.
    void hold(bool holding) { m_holding = holding; }
    // How far the text above the anchor moved since the last report.
    double takeShift() { return std::exchange(m_shift, 0.0); }
    // From where (below the page's top margin) what follows must be
    // repainted; negative when nothing must.
    double takeDirtyTop() { return std::exchange(m_dirtyTop, -1.0); }

private:
    double m_anchor = 0.0;
    double m_shift = 0.0;     // corrections above the anchor not yet reported
    double m_dirtyTop = -1.0; // where corrected heights moved what follows, not yet repainted
    bool m_holding = false;
};

} // namespace lumora
