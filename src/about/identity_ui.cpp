#include "about/identity_ui.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

QString ProductDescription(bool generic)
{
    const QString first = generic ? QStringLiteral("Data Acquisition  Software")
                                  : QStringLiteral("Varnik Data Acquisition  Software");
    // The two lines were once joined by a bare carriage return, which a label does not break on.
    return first + QLatin1Char('\n') + QStringLiteral(" ( Software for u-P instrument & DMM )");
}

#define VARNIK_TEXT(x) VARNIK_TEXT_(x)
#define VARNIK_TEXT_(x) #x

QString RevisionText()
{
    // Taken as text: a part written "0017" would otherwise be read as an octal literal.
    return RevisionText(QStringLiteral(VARNIK_TEXT(VARNIK_VERSION_MAJOR)),
                        QStringLiteral(VARNIK_TEXT(VARNIK_VERSION_MINOR)),
                        QStringLiteral(VARNIK_TEXT(VARNIK_VERSION_PATCH)));
}

QString RevisionText(const QString& major, const QString& minor, const QString& patch)
{
    auto plain = [](const QString& part) { return QString::number(part.toULongLong(nullptr, 10)); };
    return QStringLiteral("Revised : %1.%2.%3").arg(plain(major), plain(minor), plain(patch));
}

QPixmap VarnikLogo(int side)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);

    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(side * 0.04, side * 0.04, side * 0.92, side * 0.92);
    QLinearGradient fill(box.topLeft(), box.bottomRight());
    fill.setColorAt(0, QColor(24, 86, 140));
    fill.setColorAt(1, QColor(10, 40, 72));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(box, side * 0.18, side * 0.18);

    // A faint measuring grid behind a trace that settles into a steady reading.
    p.setPen(QPen(QColor(255, 255, 255, 48), std::max(1.0, side / 96.0)));
    for (int i = 1; i < 4; ++i) {
        const qreal x = box.left() + box.width() * i / 4;
        const qreal y = box.top() + box.height() * i / 4;
        p.drawLine(QPointF(x, box.top() + side * 0.1), QPointF(x, box.bottom() - side * 0.1));
        p.drawLine(QPointF(box.left() + side * 0.1, y), QPointF(box.right() - side * 0.1, y));
    }
    QPainterPath trace;
    const int steps = 64;
    for (int i = 0; i <= steps; ++i) {
        const qreal t = static_cast<qreal>(i) / steps;
        const qreal x = box.left() + box.width() * (0.1 + 0.8 * t);
        const qreal y =
            box.center().y() - box.height() * 0.32 * std::exp(-3.5 * t) * std::cos(t * 5.5 * M_PI);
        if (i == 0)
            trace.moveTo(x, y);
        else
            trace.lineTo(x, y);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(
        QPen(QColor(120, 230, 160), std::max(1.5, side / 24.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(trace);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(trace.currentPosition(), side / 22.0, side / 22.0);
    return pixmap;
}
