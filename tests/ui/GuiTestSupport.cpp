#include "GuiTestSupport.h"

#include <QDir>

bool HasDrawing(const QImage& image, QColor background) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QColor pixel = argb.pixelColor(x, y);
            if (pixel.alpha() != 0 && pixel != background) {
                return true;
            }
        }
    }
    return false;
}

QString SaveScreenshot(const QImage& image, const QString& name) {
    QDir().mkpath(QStringLiteral(HARVIX_SCREENSHOT_DIR));
    const QString path = QStringLiteral(HARVIX_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
    image.save(path);
    return path;
}
