#pragma once

#include <QRect>
#include <QString>

class QWidget;

namespace qn {

/// The forms are drawn at fixed positions for one size. This lets such a form grow and shrink
/// as a window of a current desktop does, without redrawing it:
/// - the designed size is the default and the minimum (or the screen, when that is smaller);
/// - grids, lists and multi-line boxes take the extra room, and their group boxes with them;
///   controls to their right or below them move along; controls drawn against the right or
///   bottom edge keep that edge, together with the controls in a row with them;
/// - a form that does not fit the screen scrolls instead of cutting off its controls.
/// Call once, after the form has been scaled for the desktop's font.
void makeResizable(QWidget* window);

/// Where a control drawn at `design` inside a container drawn `designSize` large goes when the
/// container is `size` large; `siblings` are the container's other controls as drawn and
/// `grows` tells which of them take extra room (index-aligned with siblings; `self` is the
/// index of the control). Exposed for the layout test.
struct Placement {
    QRect design;
    bool grows = false;
    bool container = false;
    bool stretches = false;
};
QRect placeControl(const QList<Placement>& siblings, qsizetype self, QSize designSize, QSize size);

/// Remembers each window's size and place per user between runs (beside the engine's own
/// configuration) and keeps a window that is shown on the screen it appears on.
class WindowMemory {
public:
    /// The file the places are kept in.
    static QString filePath();
    /// Restores the window's last place when it is first shown, and notes it when hidden.
    static void attach(QWidget* window);
};

} // namespace qn
