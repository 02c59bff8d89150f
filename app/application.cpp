#include "application.h"

#include "error.h"
#include "guard.h"
#include "messageservice.h"
#include "quillnet_version.h"

namespace qn {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Quillnet"));
    setApplicationDisplayName(QStringLiteral("Quillnet"));
    setApplicationVersion(QStringLiteral(QUILLNET_VERSION));
    setOrganizationName(QStringLiteral("Quillnet"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showError(e);
    }
    return false;
}

void Application::guarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        showError(e);
    }
}

void Application::showError(const std::exception& e) {
    showFailure(e);
}

bool Application::displayAvailable() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true; // offscreen, vnc, or a platform chosen on purpose
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace qn
