// Saves the X screen, or a rectangle of it, as a PNG file, for the
// end-to-end test's screenshots:
//   harvix_screengrab OUT.png [X Y WIDTH HEIGHT]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QString>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2 && args.size() != 6) {
        std::fprintf(stderr, "usage: harvix_screengrab OUT.png [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        std::fprintf(stderr, "harvix_screengrab: no screen\n");
        return 1;
    }
    int x = 0, y = 0, width = -1, height = -1;
    if (args.size() == 6) {
        x = args[2].toInt();
        y = args[3].toInt();
        width = args[4].toInt();
        height = args[5].toInt();
    }
    const QPixmap shot = screen->grabWindow(0, x, y, width, height);
    if (shot.isNull() || !shot.save(args[1], "PNG")) {
        std::fprintf(stderr, "harvix_screengrab: cannot save %s\n", qPrintable(args[1]));
        return 1;
    }
    return 0;
}
