#include "application.h"
#include "engine.h"
#include "program.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (!qn::Application::displayAvailable()) {
        std::fprintf(stderr, "Quillnet needs a graphical desktop, but no display was found "
                             "(neither DISPLAY nor WAYLAND_DISPLAY is set).\n");
        return 1;
    }
    qn::Application app(argc, argv);
    qn::Engine engine;
    qn::Program program(engine);
    program.start();
    return app.exec();
}
