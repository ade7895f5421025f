#include "controls/segment_painter.h"

#include <QPainter>
#include <QPolygonF>
#include <QTransform>
#include <array>
#include <utility>

namespace {
// Segment bits: a top, b upper right, c lower right, d bottom, e lower left, f upper left, g middle.
constexpr std::array<unsigned char, 10> DigitSegments{0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                                      0x6D, 0x7D, 0x07, 0x7F, 0x6F};
constexpr unsigned char Minus = 0x40;
constexpr double Slant = 0.08;

unsigned char segmentsOf(QChar glyph)
{
    if (glyph >= u'0' && glyph <= u'9')
        return DigitSegments[glyph.unicode() - u'0'];
    return glyph == u'-' ? Minus : 0;
}

// A pointed bar from `from` to `to` (horizontal or vertical) of thickness t, ends pulled in a little
// so neighbouring segments show a dark seam.
QPolygonF bar(QPointF from, QPointF to, double t)
{
    const double gap = t * 0.15;
    const double h = t / 2;
    if (from.y() == to.y()) {
        const double a = from.x() + gap, b = to.x() - gap, y = from.y();
        return QPolygonF({{a, y}, {a + h, y - h}, {b - h, y - h}, {b, y}, {b - h, y + h}, {a + h, y + h}});
    }
    const double a = from.y() + gap, b = to.y() - gap, x = from.x();
    return QPolygonF({{x, a}, {x + h, a + h}, {x + h, b - h}, {x, b}, {x - h, b - h}, {x - h, a + h}});
}
} // namespace

SegmentPainter::SegmentPainter(QPainter& painter, double cellWidth, double cellHeight)
    : m_p(painter), m_w(cellWidth), m_h(cellHeight)
{
}

void SegmentPainter::draw(QPointF topLeft, QChar glyph, bool point)
{
    const double left = topLeft.x() + m_w * 0.14;
    const double width = m_w * 0.6;
    const double top = topLeft.y() + m_h * 0.08;
    const double height = m_h * 0.84;
    const double t = std::min(width, height) * 0.24;
    const double right = left + width, bottom = top + height, mid = top + height / 2;

    // Slant about the baseline, so the decimal point beside the bottom stays put.
    const QTransform slant(1, 0, -Slant, 1, Slant * bottom, 0);
    const std::array<std::pair<QPointF, QPointF>, 7> ends{{
        {{left, top}, {right, top}},
        {{right, top}, {right, mid}},
        {{right, mid}, {right, bottom}},
        {{left, bottom}, {right, bottom}},
        {{left, mid}, {left, bottom}},
        {{left, top}, {left, mid}},
        {{left, mid}, {right, mid}},
    }};
    const unsigned char lit = segmentsOf(glyph);
    m_p.setPen(Qt::NoPen);
    for (int s = 0; s < 7; ++s) {
        m_p.setBrush((lit >> s) & 1 ? SegmentPainter::Lit : SegmentPainter::Unlit);
        m_p.drawPolygon(slant.map(bar(ends[s].first, ends[s].second, t)));
    }
    m_p.setBrush(point ? SegmentPainter::Lit : SegmentPainter::Unlit);
    // A generous point: from across the bench 19.6 and 196 must not look alike.
    m_p.drawEllipse(QPointF(right + t * 1.0, bottom - t * 0.4), t * 0.75, t * 0.75);
}
