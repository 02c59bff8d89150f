#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <utility>

namespace qn {

/// Shows a failed action's text in the error box.
void showFailure(const std::exception& e);

/// Runs an event handler so that an exception it lets escape ends only the handler: its text
/// goes to the error box and the program goes on. Qt's own frames are never unwound, which
/// they are not built for.
template <class F> void runHandler(F&& f) {
    try {
        std::forward<F>(f)();
    } catch (const std::exception& e) {
        showFailure(e);
    }
}

/// A slot for connect() that runs a handler of obj under runHandler.
template <class Obj> auto handler(Obj* obj, void (Obj::*fn)()) {
    return [obj, fn] { runHandler([&] { (obj->*fn)(); }); };
}

} // namespace qn
