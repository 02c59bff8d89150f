#pragma once

#include <QApplication>
#include <functional>

namespace qn {

/// The application object. Handlers do not catch: an exception that leaves an event handler
/// ends it here, its text is shown in the error box, and the program keeps running.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    /// Runs work outside the event loop (start-up steps) with the same error handling.
    static void guarded(const std::function<void()>& work);
    static void showError(const std::exception& e);

    /// False when no display is available to show windows on.
    static bool displayAvailable();
};

} // namespace qn
