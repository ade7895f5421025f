#pragma once
// Test helpers for controls that repaint only what changes: PaintProbe, installed as an event
// filter on a control, counts its paint events and collects the region they paint;
// unpaintedChange() names the first pixel that differs between two images of the control but lies
// outside the painted region (empty when every change was painted).
#include <QEvent>
#include <QImage>
#include <QObject>
#include <QPaintEvent>
#include <QRegion>
#include <QString>

class PaintProbe : public QObject {
  public:
    int paints = 0;
    QRegion painted;

  protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            painted += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
};

inline QString unpaintedChange(const QImage& before, const QImage& after, const QRegion& painted)
{
    if (before.size() != after.size())
        return QStringLiteral("the images differ in size");
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            if (before.pixel(x, y) != after.pixel(x, y) && !painted.contains(QPoint(x, y)))
                return QStringLiteral("pixel %1,%2 changed unpainted").arg(x).arg(y);
    return {};
}
