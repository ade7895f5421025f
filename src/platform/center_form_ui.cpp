#include "platform/center_form_ui.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace {
const QScreen* orPrimary(const QScreen* screen)
{
    return screen ? screen : QGuiApplication::primaryScreen();
}

double twipsPerPixel(double dpi)
{
    return dpi > 0 ? TwipsPerInch / dpi : 15.0;
}
} // namespace

double TwipsPerPixelX(const QScreen* screen)
{
    screen = orPrimary(screen);
    return twipsPerPixel(screen ? screen->logicalDotsPerInchX() : 0);
}

double TwipsPerPixelY(const QScreen* screen)
{
    screen = orPrimary(screen);
    return twipsPerPixel(screen ? screen->logicalDotsPerInchY() : 0);
}

QPoint CenteredPosition(const QRect& available, const QSize& size, double twipsPerPixelX,
                        double twipsPerPixelY)
{
    const double areaWidth = available.width() * twipsPerPixelX;
    const double areaHeight = available.height() * twipsPerPixelY;
    const double originX = available.left() * twipsPerPixelX;
    const double originY = available.top() * twipsPerPixelY;
    const double width = std::round(size.width() * twipsPerPixelX);
    const double height = std::round(size.height() * twipsPerPixelY);
    // Halves are truncated toward zero, so an oversized window lands at a negative offset.
    const double left = originX + std::trunc((areaWidth - width) / 2);
    const double top = std::round(originY + 100) + std::trunc((areaHeight - height) / 2);
    return {static_cast<int>(std::lround(left / twipsPerPixelX)),
            static_cast<int>(std::lround(top / twipsPerPixelY))};
}

void CenterForm(QWidget* window)
{
    if (!window)
        return;
    const QScreen* screen = orPrimary(window->screen());
    if (!screen)
        return;
    window->move(CenteredPosition(screen->availableGeometry(), window->frameGeometry().size(),
                                  TwipsPerPixelX(screen), TwipsPerPixelY(screen)));
}
