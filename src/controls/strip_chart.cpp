#include "controls/strip_chart.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
const QColor Background(16, 20, 24);
const QColor GridColor(60, 72, 80);
const QColor AxisText(200, 210, 215);
const std::array<QColor, StripChart::Traces> TraceColors{QColor(80, 240, 90), QColor(255, 210, 60),
                                                          QColor(90, 180, 255), QColor(255, 110, 110)};
constexpr int GridRows = 4;
constexpr int LeftMargin = 64;
constexpr double Nan = std::numeric_limits<double>::quiet_NaN();
} // namespace

StripChart::StripChart(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

StripChart::~StripChart() = default;

void StripChart::invalidate()
{
    m_gridValid = false;
    update();
}

void StripChart::setYMax(float value)
{
    if (value == m_yMax)
        return;
    m_yMax = value;
    invalidate();
}

void StripChart::setYMin(float value)
{
    if (value == m_yMin)
        return;
    m_yMin = value;
    invalidate();
}

void StripChart::setScrollBack(int points)
{
    int held = 0;
    for (const Ring& ring : m_traces)
        held = std::max(held, ring.count);
    points = std::clamp(points, 0, std::max(0, held - 1));
    if (points == m_scrollBack)
        return;
    m_scrollBack = points;
    update();
}

void StripChart::AddValue(int trace, double value)
{
    if (trace < 0 || trace >= Traces)
        return;
    Ring& ring = m_traces[size_t(trace)];
    if (!ring.values)
        ring.values = std::make_unique<double[]>(Capacity);
    ring.pending = value;
    ring.hasPending = true;
}

void StripChart::Advance()
{
    for (Ring& ring : m_traces) {
        if (!ring.values)
            continue;
        ring.values[size_t(m_head)] = ring.hasPending ? ring.pending : Nan;
        ring.hasPending = false;
        ring.count = std::min(ring.count + 1, Capacity);
    }
    m_head = (m_head + 1) % Capacity;
    ++m_advances;
    // A view scrolled back stays on the points it shows.
    if (m_scrollBack > 0)
        setScrollBack(m_scrollBack + 1);
    update(plotArea());
}

void StripChart::Clear()
{
    for (Ring& ring : m_traces) {
        ring.count = 0;
        ring.hasPending = false;
    }
    m_head = 0;
    update();
}

int StripChart::pointCount(int trace) const
{
    return trace >= 0 && trace < Traces ? m_traces[size_t(trace)].count : 0;
}

double StripChart::point(int trace, int back) const
{
    if (back < 0 || back >= pointCount(trace))
        return Nan;
    return m_traces[size_t(trace)].values[size_t((m_head - 1 - back + Capacity) % Capacity)];
}

size_t StripChart::memoryBytes() const
{
    size_t bytes = sizeof(*this);
    for (const Ring& ring : m_traces)
        if (ring.values)
            bytes += Capacity * sizeof(double);
    return bytes;
}

QRect StripChart::plotArea() const
{
    return rect().adjusted(LeftMargin, 8, -8, -8);
}

void StripChart::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_gridValid = false;
}

void StripChart::wheelEvent(QWheelEvent* event)
{
    const int notches = event->angleDelta().y() / 120;
    if (notches == 0) {
        event->ignore();
        return;
    }
    // Wheel up looks further back, ten points a notch.
    setScrollBack(m_scrollBack + notches * 10);
    event->accept();
}

void StripChart::renderGrid()
{
    const qreal ratio = devicePixelRatioF();
    m_grid = QPixmap(size() * ratio);
    m_grid.setDevicePixelRatio(ratio);
    m_grid.fill(Background);
    QPainter p(&m_grid);
    const QRect plot = plotArea();
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    for (int row = 0; row <= GridRows; ++row) {
        const int y = plot.top() + plot.height() * row / GridRows;
        p.setPen(QPen(GridColor, 1, row == 0 || row == GridRows ? Qt::SolidLine : Qt::DotLine));
        p.drawLine(plot.left(), y, plot.right(), y);
        const double value = double(m_yMax) + (double(m_yMin) - double(m_yMax)) * row / GridRows;
        p.setPen(AxisText);
        p.drawText(QRect(0, y - 8, LeftMargin - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(value, 'g', 6));
    }
    const int columnStep = 60 * PixelsPerPoint; // a line every minute of points
    p.setPen(QPen(GridColor, 1, Qt::DotLine));
    for (int x = plot.right() - columnStep; x > plot.left(); x -= columnStep)
        p.drawLine(x, plot.top(), x, plot.bottom());
    p.setPen(GridColor);
    p.drawLine(plot.left(), plot.top(), plot.left(), plot.bottom());
    m_gridValid = true;
}

void StripChart::paintEvent(QPaintEvent* event)
{
    if (!m_gridValid || m_grid.size() != size() * devicePixelRatioF())
        renderGrid();
    QPainter p(this);
    const QRect r = event->rect();
    p.drawPixmap(r, m_grid, QRectF(QPointF(r.topLeft()) * m_grid.devicePixelRatio(),
                                   QSizeF(r.size()) * m_grid.devicePixelRatio()));

    const QRect plot = plotArea();
    const double top = m_yMax;
    const double span = double(m_yMax) - double(m_yMin);
    const auto yOf = [&](double v) {
        const double f = span != 0 && std::isfinite(span) ? (top - v) / span : 0.5;
        return plot.top() + std::clamp(f, 0.0, 1.0) * plot.height();
    };
    const int visible = plot.width() / PixelsPerPoint + 1;
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(plot.adjusted(0, -1, 1, 1));
    QPolygonF run;
    run.reserve(visible);
    for (int t = 0; t < Traces; ++t) {
        const int count = pointCount(t);
        if (count == 0)
            continue;
        p.setPen(QPen(TraceColors[size_t(t)], 1.5));
        const auto flush = [&] {
            if (run.size() == 1)
                p.drawPoint(run.front());
            else if (run.size() > 1)
                p.drawPolyline(run);
            run.clear();
        };
        for (int i = 0; i < visible && m_scrollBack + i < count; ++i) {
            const double v = point(t, m_scrollBack + i);
            if (std::isnan(v)) {
                flush();
                continue;
            }
            run.append(QPointF(plot.right() - i * PixelsPerPoint, yOf(v)));
        }
        flush();
    }
}
