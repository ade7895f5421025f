#include "controls/led_panel.h"

#include "controls/segment_painter.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <optional>

namespace {
// A cell is this wide for each unit of its height; the marker column is a fraction of a cell.
constexpr double CellAspect = 0.6;
constexpr double MarkerColumn = 0.35;

bool allZero(const QString& text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) { return c >= u'1' && c <= u'9'; });
}

// The cells for value, in displayText() form; nothing when it does not fit.
std::optional<QString> cellText(double value, int digits, int decimals)
{
    // No 16-cell panel holds 1e16 or more; checking first keeps absurd values cheap.
    if (!std::isfinite(value) || std::abs(value) >= 1e16)
        return std::nullopt;
    for (int d = std::min(decimals, digits - 1); d >= 0; --d) {
        QString text = QString::number(value, 'f', d);
        if (text.startsWith(u'-') && allZero(text))
            text.remove(0, 1); // a reading that rounds to zero shows no sign
        const int point = d > 0 ? 1 : 0;
        if (text.size() - point <= digits)
            return text.rightJustified(digits + point, u' ');
    }
    return std::nullopt;
}
} // namespace

NumLED::NumLED(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
    relayout();
}

void NumLED::setDigitCount(int digits)
{
    m_digits = std::clamp(digits, 1, MaxDigits);
    relayout();
    updateGeometry();
}

void NumLED::setDecimals(int decimals)
{
    m_decimals = std::max(decimals, 0);
    relayout();
}

void NumLED::setValue(double value)
{
    m_value = value;
    relayout();
}

void NumLED::setManualMarker(bool on)
{
    if (m_manual == on)
        return;
    m_manual = on;
    setToolTip(on ? tr("Decimals and unit set by hand") : QString());
    update();
}

QString NumLED::displayText() const
{
    return m_text;
}

bool NumLED::overflowed() const
{
    return m_overflow;
}

void NumLED::relayout()
{
    const std::optional<QString> fitted = cellText(m_value, m_digits, m_decimals);
    const QString text = fitted.value_or(QString(m_digits, u'-'));
    m_overflow = !fitted;
    if (text == m_text)
        return;
    m_text = text;
    update();
}

QSize NumLED::sizeHint() const
{
    const int height = 48;
    return {int(height * CellAspect * (m_digits + MarkerColumn)) + 12, height + 12};
}

QSize NumLED::minimumSizeHint() const
{
    const int height = 16;
    return {int(height * CellAspect * (m_digits + MarkerColumn)) + 4, height + 4};
}

void NumLED::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Face);

    const QRectF area = QRectF(rect()).adjusted(4, 4, -4, -4);
    const double cellH = std::min(area.height(), area.width() / (CellAspect * (m_digits + MarkerColumn)));
    if (cellH <= 1)
        return;
    const double cellW = cellH * CellAspect;
    const double blockW = cellW * (m_digits + MarkerColumn);
    QPointF origin(area.right() - blockW, area.center().y() - cellH / 2); // flush right, like the digits

    if (m_manual) {
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(std::max(6, int(cellH * 0.22)));
        p.setFont(font);
        p.setPen(SegmentPainter::Lit);
        p.drawText(QRectF(origin, QSizeF(cellW * MarkerColumn, cellH * 0.3)), Qt::AlignCenter,
                   QStringLiteral("M"));
    }
    origin.rx() += cellW * MarkerColumn;

    SegmentPainter segments(p, cellW, cellH);
    int cell = -1;
    for (int i = 0; i < m_text.size(); ++i) {
        if (m_text[i] == u'.')
            continue;
        ++cell;
        const bool point = i + 1 < m_text.size() && m_text[i + 1] == u'.';
        segments.draw(QPointF(origin.x() + cell * cellW, origin.y()), m_text[i], point);
    }
}
