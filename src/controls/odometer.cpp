#include "controls/odometer.h"

#include <QLinearGradient>
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
        m_position = v.toDouble();
        update();
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
    if (widened)
        updateGeometry();
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

void Odometer::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Housing);

    const int wheels = shownWheels();
    const QRectF area = QRectF(rect()).adjusted(3, 3, -3, -3);
    const double wheelH = std::min(area.height(), area.width() / (WheelAspect * wheels));
    if (wheelH <= 2)
        return;
    const double wheelW = wheelH * WheelAspect;
    const double left = area.center().x() - wheelW * wheels / 2;
    const double top = area.center().y() - wheelH / 2;

    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(std::max(6, int(wheelH * 0.62)));
    p.setFont(font);

    // Wheel w (from the right) turns only while every wheel to its right is passing from 9 to 0,
    // and then by the same fraction as the rightmost wheel.
    const QString text = displayText();
    const double whole = std::floor(m_position);
    const double fraction = m_position - whole;
    qint64 below = 1;
    for (int w = 0; w < wheels; ++w) {
        const QRectF wheel(left + (wheels - 1 - w) * wheelW, top, wheelW, wheelH);
        const QChar c = text[wheels - 1 - w];
        if (c == u'-' || m_count < 0) {
            paintWheel(p, wheel, c == u'-' ? -1 : c.digitValue(), 0, 0);
            continue;
        }
        const qint64 upper = qint64(whole) / below;
        const bool carrying = qint64(whole) % below == below - 1;
        const double roll = (w == 0 || carrying) ? fraction : 0;
        paintWheel(p, wheel, int(upper % 10), roll, int((upper + 1) % 10));
        below *= 10;
    }
}

// digit -1 is a minus sign; roll (0..1) is how far the wheel has turned from digit towards next.
void Odometer::paintWheel(QPainter& p, const QRectF& wheel, int digit, double roll, int next) const
{
    const QRectF face = wheel.adjusted(wheel.width() * 0.06, 0, -wheel.width() * 0.06, 0);
    QLinearGradient shade(face.topLeft(), face.bottomLeft());
    shade.setColorAt(0, QColor(8, 8, 8));
    shade.setColorAt(0.5, QColor(58, 58, 62));
    shade.setColorAt(1, QColor(8, 8, 8));
    p.fillRect(face, shade);

    p.save();
    p.setClipRect(face);
    p.setPen(DigitColor);
    const QString shown = digit < 0 ? QStringLiteral("-") : QString::number(digit);
    p.drawText(face.translated(0, -roll * face.height()), Qt::AlignCenter, shown);
    if (roll > 0)
        p.drawText(face.translated(0, (1 - roll) * face.height()), Qt::AlignCenter, QString::number(next));
    p.restore();
}
