#include "controls/led_panel.h"

#include "controls/segment_glyphs.h"
#include "controls/segment_painter.h"

#include <QPaintEvent>
#include <QPainter>
#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

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

struct Cell {
    QChar glyph;
    bool point;
    bool operator==(const Cell&) const = default;
};

// displayText() form split into cells: each glyph with the decimal point that follows it.
QVarLengthArray<Cell, NumLED::MaxDigits> cellsOf(const QString& text)
{
    QVarLengthArray<Cell, NumLED::MaxDigits> cells;
    for (int i = 0; i < text.size(); ++i)
        if (text[i] != u'.')
            cells.append({text[i], i + 1 < text.size() && text[i + 1] == u'.'});
    return cells;
}

// Where the marker and the cells go in a widget of the given size: the cells fill it at a fixed shape,
// flush right like the digits. Nothing when they would be too small to draw.
struct Layout {
    double cellW;
    double cellH;
    QPointF marker; // top-left of the marker column
    QPointF digits; // top-left of the first cell

    QRectF cell(int i) const { return {digits.x() + i * cellW, digits.y(), cellW, cellH}; }
};

std::optional<Layout> layoutFor(QSize size, int digits)
{
    const QRectF area = QRectF(QPointF(0, 0), size).adjusted(4, 4, -4, -4);
    const double cellH = std::min(area.height(), area.width() / (CellAspect * (digits + MarkerColumn)));
    if (cellH <= 1)
        return std::nullopt;
    const double cellW = cellH * CellAspect;
    const QPointF marker(area.right() - cellW * (digits + MarkerColumn), area.center().y() - cellH / 2);
    return Layout{cellW, cellH, marker, marker + QPointF(cellW * MarkerColumn, 0)};
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
    digits = std::clamp(digits, 1, MaxDigits);
    if (digits == m_digits)
        return;
    m_digits = digits;
    relayout();
    updateGeometry();
}

void NumLED::setDecimals(int decimals)
{
    decimals = std::max(decimals, 0);
    if (decimals == m_decimals)
        return;
    m_decimals = decimals;
    relayout();
}

void NumLED::setValue(double value)
{
    if (value == m_value)
        return;
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

void NumLED::setGlyphCache(bool on)
{
    if (m_glyphCache == on)
        return;
    m_glyphCache = on;
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
    const auto before = cellsOf(std::exchange(m_text, text));
    const auto after = cellsOf(m_text);
    const std::optional<Layout> layout = layoutFor(size(), m_digits);
    if (!layout || before.size() != after.size()) {
        update();
        return;
    }
    // Readings mostly change in their last digits: repaint only the cells that change.
    QRectF changed;
    for (int i = 0; i < after.size(); ++i)
        if (before[i] != after[i])
            changed |= layout->cell(i);
    update(changed.toAlignedRect().adjusted(-1, -1, 1, 1));
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

void NumLED::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Face);
    const std::optional<Layout> layout = layoutFor(size(), m_digits);
    if (!layout)
        return;

    const QRectF marker(layout->marker, QSizeF(layout->cellW * MarkerColumn, layout->cellH * 0.3));
    if (m_manual && event->rect().intersects(marker.toAlignedRect())) {
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(std::max(6, int(layout->cellH * 0.22)));
        p.setFont(font);
        p.setPen(SegmentPainter::Lit);
        p.drawText(marker, Qt::AlignCenter, QStringLiteral("M"));
    }

    // Cells start on the device pixel grid, where a cached cell copies 1:1. A painter that turns or
    // stretches the panel (never a window's own) gets every segment drawn.
    const QTransform device = p.deviceTransform();
    const qreal ratio = device.m11();
    const bool grid = device.type() <= QTransform::TxScale && ratio > 0 && device.m22() == ratio;
    const auto onGrid = [&device, ratio, grid](QPointF at) {
        if (!grid)
            return at;
        return QPointF((std::round(at.x() * ratio + device.dx()) - device.dx()) / ratio,
                       (std::round(at.y() * ratio + device.dy()) - device.dy()) / ratio);
    };
    const QSizeF cellSize(layout->cellW, layout->cellH);
    std::optional<SegmentPainter> direct;
    if (!m_glyphCache || !grid)
        direct.emplace(p, cellSize.width(), cellSize.height());
    const auto cells = cellsOf(m_text);
    for (int i = 0; i < cells.size(); ++i) {
        if (!event->rect().intersects(layout->cell(i).toAlignedRect().adjusted(-1, -1, 1, 1)))
            continue;
        const QPointF at = onGrid(layout->cell(i).topLeft());
        if (direct)
            direct->draw(at, cells[i].glyph, cells[i].point);
        else
            p.drawPixmap(at, SegmentGlyphs::cell(cellSize, ratio, cells[i].glyph, cells[i].point));
    }
}
