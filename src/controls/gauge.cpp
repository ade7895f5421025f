#include "controls/gauge.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {
const QColor FaceColor(250, 250, 246);
const QColor RimColor(70, 74, 80);
const QColor TickColor(30, 30, 30);
const QColor NeedleColor(200, 20, 20);
const std::array<QColor, AGauge::Zones> ZoneColors{QColor(255, 190, 0), QColor(40, 170, 60), QColor(220, 30, 30)};
constexpr double StartDegrees = 225; // where the scale minimum sits, counter-clockwise from 3 o'clock

bool usableScale(double min, double max)
{
    return std::isfinite(min) && std::isfinite(max) && min < max;
}

QString tickLabel(double value)
{
    return QString::number(value, 'g', 6);
}
} // namespace

AGauge::AGauge(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void AGauge::invalidate()
{
    m_faceValid = false;
    placeCaptions(); // the end labels may have changed
    update();
}

void AGauge::setScaleMinValue(double value)
{
    if (value == m_min)
        return;
    m_min = value;
    invalidate();
}

void AGauge::setScaleMaxValue(double value)
{
    if (value == m_max)
        return;
    m_max = value;
    invalidate();
}

void AGauge::setTicID(int id)
{
    if (id >= 0 && id < TickSets)
        m_ticId = id;
}

void AGauge::setTicDelta(double delta)
{
    if (delta == m_ticDelta[m_ticId])
        return;
    m_ticDelta[m_ticId] = delta;
    invalidate();
}

void AGauge::setAnnularID(int id)
{
    if (id >= 0 && id < Zones)
        m_zoneId = id;
}

void AGauge::setAnnularStartValue(double value)
{
    if (value == m_zones[m_zoneId].start)
        return;
    m_zones[m_zoneId].start = value;
    invalidate();
}

void AGauge::setAnnularStopValue(double value)
{
    if (value == m_zones[m_zoneId].stop)
        return;
    m_zones[m_zoneId].stop = value;
    invalidate();
}

std::vector<double> AGauge::tickValues(int id) const
{
    std::vector<double> ticks;
    if (id < 0 || id >= TickSets || !usableScale(m_min, m_max))
        return ticks;
    const double delta = m_ticDelta[id];
    if (!std::isfinite(delta) || delta <= 0)
        return ticks;
    const double steps = (m_max - m_min) / delta;
    if (!std::isfinite(steps) || steps > MaxTicksPerSet)
        return ticks;
    // Counting steps from the minimum, never adding up spacings, keeps the last tick on the maximum.
    const int count = int(std::floor(steps * (1 + 1e-12))) + 1;
    ticks.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        ticks.push_back(std::min(m_min + i * delta, m_max));
    return ticks;
}

double AGauge::fractionOf(double value) const
{
    if (!usableScale(m_min, m_max) || std::isnan(value))
        return 0;
    return std::clamp((value - m_min) / (m_max - m_min), 0.0, 1.0);
}

double AGauge::needleFraction() const
{
    return fractionOf(m_needle);
}

QRectF AGauge::dial() const
{
    const double side = std::max(10, std::min(width(), height()) - 8);
    return {(width() - side) / 2.0, (height() - side) / 2.0, side, side};
}

QPolygonF AGauge::needlePolygon(double fraction) const
{
    const QRectF d = dial();
    const double radius = d.width() / 2;
    const double angle = qDegreesToRadians(StartDegrees - fraction * SweepDegrees);
    const QPointF c = d.center();
    const QPointF dir(std::cos(angle), -std::sin(angle));
    const QPointF side(-dir.y(), dir.x());
    const double half = std::max(1.5, radius * 0.03);
    return QPolygonF{c + side * half - dir * radius * 0.12, c + dir * radius * 0.82,
                     c - side * half - dir * radius * 0.12};
}

void AGauge::setNeedleValue(double value)
{
    if (value == m_needle || (std::isnan(value) && std::isnan(m_needle)))
        return;
    const bool wasShown = !std::isnan(m_needle);
    const double before = needleFraction();
    m_needle = value;
    const double after = needleFraction();
    if (before == after && wasShown == !std::isnan(value))
        return;
    const QPolygonF oldNeedle = needlePolygon(before);
    const QPolygonF newNeedle = needlePolygon(after);
    update(oldNeedle.boundingRect().united(newNeedle.boundingRect()).toAlignedRect().adjusted(-3, -3, 3, 3));
}

void AGauge::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_faceValid = false;
    placeCaptions();
}

void AGauge::renderFace()
{
    const qreal ratio = devicePixelRatioF();
    m_face = QPixmap(size() * ratio);
    m_face.setDevicePixelRatio(ratio);
    m_face.fill(Qt::transparent); // the frame around the dial shows through
    QPainter p(&m_face);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF d = dial();
    const double radius = d.width() / 2;
    p.setPen(QPen(RimColor, std::max(2.0, radius * 0.04)));
    p.setBrush(FaceColor);
    p.drawEllipse(d.adjusted(2, 2, -2, -2));

    const auto angleOf = [this](double value) { return StartDegrees - fractionOf(value) * SweepDegrees; };
    if (usableScale(m_min, m_max)) {
        const double ring = radius * 0.08;
        const QRectF arc = d.adjusted(radius * 0.1, radius * 0.1, -radius * 0.1, -radius * 0.1);
        for (int z = 0; z < Zones; ++z) {
            const double from = std::min(m_zones[z].start, m_zones[z].stop);
            const double to = std::max(m_zones[z].start, m_zones[z].stop);
            if (!(from < to) || to <= m_min || from >= m_max)
                continue;
            const double a0 = angleOf(from);
            const double a1 = angleOf(to);
            p.setPen(QPen(ZoneColors[z], ring, Qt::SolidLine, Qt::FlatCap));
            p.setBrush(Qt::NoBrush);
            p.drawArc(arc, int(std::lround(a0 * 16)), int(std::lround((a1 - a0) * 16)));
        }
    }

    const QPointF c = d.center();
    const auto point = [&](double value, double r) {
        const double a = qDegreesToRadians(angleOf(value));
        return c + QPointF(std::cos(a), -std::sin(a)) * r;
    };
    const double outer = radius * 0.86;
    const std::array<double, TickSets> inner{radius * 0.72, radius * 0.79, radius * 0.72};
    const std::array<double, TickSets> widths{std::max(1.5, radius * 0.02), 1.0, 0};
    for (int set = 0; set < 2; ++set) {
        p.setPen(QPen(TickColor, widths[set]));
        for (double v : tickValues(set))
            p.drawLine(point(v, inner[set]), point(v, outer));
    }
    p.setFont(labelFont());
    p.setPen(TickColor);
    for (double v : tickValues(2))
        p.drawText(labelBox(v), Qt::AlignCenter, tickLabel(v));
    m_faceValid = true;
}

QFont AGauge::labelFont() const
{
    QFont font;
    font.setPixelSize(std::max(7, int(dial().width() / 2 * 0.11)));
    return font;
}

QRectF AGauge::labelBox(double value) const
{
    const QRectF d = dial();
    const double radius = d.width() / 2;
    const double a = qDegreesToRadians(StartDegrees - fractionOf(value) * SweepDegrees);
    const QPointF at = d.center() + QPointF(std::cos(a), -std::sin(a)) * radius * 0.55;
    const double box = radius * 0.4;
    return {at.x() - box / 2, at.y() - box / 4, box, box / 2};
}

QRectF AGauge::tickLabelBounds(double value) const
{
    return QFontMetricsF(labelFont()).boundingRect(labelBox(value), Qt::AlignCenter, tickLabel(value));
}

QRect AGauge::valueArea() const
{
    // Below the labels of the scale's two ends and inside its ticks, which end at 0.51 of the
    // radius either side of the centre down there.
    const QRectF d = dial();
    const double r = d.width() / 2;
    const QPointF c = d.center();
    QRect area = QRectF(c.x() - 0.42 * r, c.y() + 0.47 * r, 0.84 * r, 0.24 * r).toAlignedRect();
    // On a small dial the labels keep a legible size and reach lower.
    const double labels = std::max(tickLabelBounds(m_min).bottom(), tickLabelBounds(m_max).bottom());
    area.setTop(std::max(area.top(), int(std::ceil(labels)) + 1));
    return area;
}

QRect AGauge::unitArea() const
{
    // Under the value, clear of the rim.
    const QRectF d = dial();
    const double r = d.width() / 2;
    const QPointF c = d.center();
    QRect area = QRectF(c.x() - 0.27 * r, c.y() + 0.71 * r, 0.54 * r, 0.16 * r).toAlignedRect();
    area.setTop(std::max(area.top(), valueArea().bottom() + 1)); // rounded outwards, they would touch
    return area;
}

void AGauge::setCaptions(QWidget* value, QWidget* unit)
{
    m_valueCaption = value;
    m_unitCaption = unit;
    for (QWidget* w : {value, unit})
        if (w)
            w->setParent(this);
    placeCaptions();
}

void AGauge::placeCaptions()
{
    if (m_valueCaption)
        m_valueCaption->setGeometry(valueArea());
    if (m_unitCaption)
        m_unitCaption->setGeometry(unitArea());
}

void AGauge::paintEvent(QPaintEvent* event)
{
    if (!m_faceValid || m_face.size() != size() * devicePixelRatioF())
        renderFace();
    QPainter p(this);
    const QRect r = event->rect();
    p.drawPixmap(r, m_face, QRectF(QPointF(r.topLeft()) * m_face.devicePixelRatio(),
                                   QSizeF(r.size()) * m_face.devicePixelRatio()));
    p.setRenderHint(QPainter::Antialiasing);
    const QPolygonF needle = needlePolygon(needleFraction());
    if (!needle.boundingRect().toAlignedRect().adjusted(-3, -3, 3, 3).intersects(r))
        return;
    p.setPen(Qt::NoPen);
    if (!std::isnan(m_needle)) {
        p.setBrush(NeedleColor);
        p.drawPolygon(needle);
    }
    const QRectF d = dial();
    const double hub = std::max(3.0, d.width() * 0.04);
    p.setBrush(RimColor);
    p.drawEllipse(d.center(), hub, hub);
}
