#pragma once

class QWidget;

namespace qn {

/// What the windows above this layer need of the main window, so that they do not depend on
/// the class itself.
class Shell {
public:
    virtual ~Shell() = default;
    /// Enables "Systems", "Hosts File" and "Resources" (after the first settings are saved).
    virtual void enableSetupMenus() = 0;
    virtual void setViewNewEnabled(bool on) = 0;
    /// Shows the main window.
    virtual void showShell() = 0;
    /// Makes the main window the active one, with the focus.
    virtual void bringForward() = 0;
    /// The main window, as the parent of message boxes.
    virtual QWidget* shellWidget() = 0;
};

} // namespace qn
