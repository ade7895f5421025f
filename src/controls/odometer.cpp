#include "controls/odometer.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {
constexpr double WheelAspect = 0.62; // wheel width per unit of height
constexpr int RollMs = 250;
const QColor Housing(36, 36, 40);
const QColor DigitColor(245, 245, 245);

int digitsOf(qint64 n)
{
    return int(QString::number(std::llabs(n)).size());
}
} // namespace

Odometer::Odometer(QWidget* parent) : QWidget(parent), m_roll(new QVariantAnimation(this))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_roll->setDuration(RollMs);
    m_roll->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_roll, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        // Mostly only the last wheel or two turn: repaint just the wheels that move.
        const Faces before = facesAt(m_position);
        m_position = v.toDouble();
        const Faces after = facesAt(m_position);
        QRectF moved;
        for (int w = 0; w < after.size(); ++w)
            if (before[w] != after[w])
                moved |= wheelRect(w);
        if (!moved.isEmpty())
            update(moved.toAlignedRect().adjusted(-1, -1, 1, 1));
    });
}

void Odometer::setCount(int count)
{
    if (count == m_count && !m_snapNext)
        return;
    const qint64 step = qint64(count) - m_count;
    const bool roll = !m_snapNext && isVisible() && std::llabs(step) < 10 && count >= 0 && m_count >= 0;
    m_snapNext = false;
    m_roll->stop();
    const bool widened = digitsOf(count) != digitsOf(m_count) || (count < 0) != (m_count < 0);
    m_count = count;
    if (roll) {
        m_roll->setStartValue(m_position);
        m_roll->setEndValue(double(count));
        m_roll->start();
    } else {
        m_position = count;
        update();
    }
    if (widened) {
        // The wheels move over to make room; a roll would repaint only the turning ones.
        updateGeometry();
        update();
    }
}

void Odometer::setWheelCount(int wheels)
{
    m_wheels = std::clamp(wheels, 1, MaxWheels);
    updateGeometry();
    update();
}

void Odometer::settle()
{
    m_roll->stop();
    m_position = m_count;
    m_snapNext = true;
    update();
}

bool Odometer::rolling() const
{
    return m_roll->state() == QAbstractAnimation::Running;
}

QString Odometer::displayText() const
{
    const QString digits = QString::number(std::llabs(qint64(m_count)));
    const int width = shownWheels() - (m_count < 0 ? 1 : 0);
    return (m_count < 0 ? QStringLiteral("-") : QString()) + digits.rightJustified(width, u'0');
}

int Odometer::shownWheels() const
{
    return std::max(m_wheels, digitsOf(m_count) + (m_count < 0 ? 1 : 0));
}

QSize Odometer::sizeHint() const
{
    const int height = 32;
    return {int(height * WheelAspect * shownWheels()) + 8, height + 8};
}

QSize Odometer::minimumSizeHint() const
{
    const int height = 14;
    return {int(height * WheelAspect * shownWheels()) + 4, height + 4};
}

Odometer::Layout Odometer::layout() const
{
    const int wheels = shownWheels();
    const QRectF area = QRectF(rect()).adjusted(3, 3, -3, -3);
    const double wheelH = std::min(area.height(), area.width() / (WheelAspect * wheels));
    const double wheelW = wheelH * WheelAspect;
    return {area.center().x() - wheelW * wheels / 2, area.center().y() - wheelH / 2, wheelW, wheelH};
}

QRectF Odometer::wheelRect(int w) const
{
    const Layout at = layout();
    return {at.left + (shownWheels() - 1 - w) * at.wheelW, at.top, at.wheelW, at.wheelH};
}

// Wheel w (from the right) turns only while every wheel to its right is passing from 9 to 0, and
// then by the same fraction as the rightmost wheel.
Odometer::Faces Odometer::facesAt(double position) const
{
    const int wheels = shownWheels();
    const QString text = displayText();
    const double whole = std::floor(position);
    const double fraction = position - whole;
    Faces faces;
    qint64 below = 1;
    for (int w = 0; w < wheels; ++w) {
        const QChar c = text[wheels - 1 - w];
        if (c == u'-' || m_count < 0) {
            faces.append({c == u'-' ? -1 : c.digitValue(), 0, 0});
            continue;
        }
        const qint64 upper = qint64(whole) / below;
        const bool carrying = qint64(whole) % below == below - 1;
        faces.append({int(upper % 10), (w == 0 || carrying) ? fraction : 0, int((upper + 1) % 10)});
        below *= 10;
    }
    return faces;
}

void Odometer::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Housing);
    const Layout at = layout();
    if (at.wheelH <= 2)
        return;

    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(std::max(6, int(at.wheelH * 0.62)));
    p.setFont(font);
    const Faces faces = facesAt(m_position);
    for (int w = 0; w < faces.size(); ++w) {
        const QRectF wheel = wheelRect(w);
        if (event->rect().intersects(wheel.toAlignedRect().adjusted(-1, -1, 1, 1)))
            paintWheel(p, wheel, faces[w]);
    }
}

void Odometer::paintWheel(QPainter& p, const QRectF& wheel, const Face& shown) const
{
    const auto [digit, roll, next] = shown;
    const QRectF face = wheel.adjusted(wheel.width() * 0.06, 0, -wheel.width() * 0.06, 0);
    QLinearGradient shade(face.topLeft(), face.bottomLeft());
    shade.setColorAt(0, QColor(8, 8, 8));
    shade.setColorAt(0.5, QColor(58, 58, 62));
    shade.setColorAt(1, QColor(8, 8, 8));
    p.fillRect(face, shade);

    p.save();
    p.setClipRect(face);
    p.setPen(DigitColor);
    p.drawText(face.translated(0, -roll * face.height()), Qt::AlignCenter,
               digit < 0 ? QStringLiteral("-") : QString::number(digit));
    if (roll > 0)
        p.drawText(face.translated(0, (1 - roll) * face.height()), Qt::AlignCenter, QString::number(next));
    p.restore();
}
