#pragma once
// Window placement helpers shared by every window.
// Positions are worked out in twips (1440 per inch) with the screen's logical resolution, so a
// window sits where it always did in twips whatever the pixel density.
#include <QPoint>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

constexpr double TwipsPerInch = 1440.0;

// Twips per pixel of `screen` (the primary screen when null): 15 at 96 dpi.
double TwipsPerPixelX(const QScreen* screen = nullptr);
double TwipsPerPixelY(const QScreen* screen = nullptr);

// The top-left corner, in pixels, that centres a window of `size` (pixels, frame included) in the
// available area (pixels), 100 twips below the true centre. A window larger than the area gets a
// negative offset, placing it above or left of the area's origin.
QPoint CenteredPosition(const QRect& available, const QSize& size, double twipsPerPixelX,
                        double twipsPerPixelY);

// Moves `window` to the centre of its screen's available area (task bars excluded); its size
// does not change.
void CenterForm(QWidget* window);
