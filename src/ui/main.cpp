// harvix: the tray program.
#include "ui/Application.h"

int main(int argc, char** argv) {
    harvix::Application app(argc, argv);
    return app.run();
}
