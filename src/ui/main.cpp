// harvix: the tray program.
#include "app/HarvixApp.h"

int main(int argc, char** argv) {
    CHarvixApp app(argc, argv);
    return app.Run();
}
