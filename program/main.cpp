#include "application.h"
#include "engine.h"
#include "program.h"
#include "quillnet_version.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Answered before anything else, so that it works without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("Quillnet %s\n", QUILLNET_VERSION);
        return 0;
    }
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
