// The query chart's drawing of the event log: one area series per kind of gap, one scatter series
// per kind of mark, kept apart from the channel series; the channel lines broken at the gaps.
#include "query/query_chart_ui.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QHelpEvent>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>

namespace {

struct Look {
    QString kind;
    QString legend;
    QColor colour;
    QScatterSeries::MarkerShape shape = QScatterSeries::MarkerShapeCircle;
};

const Look GapLooks[] = {
    {EventKind::LinkLost, QStringLiteral("gap: link lost"), QColor(220, 40, 40, 90)},
    {EventKind::Paused, QStringLiteral("gap: paused"), QColor(110, 110, 110, 90)},
    {EventKind::Stop, QStringLiteral("gap: not recording"), QColor(60, 60, 160, 70)},
    {EventKind::RowsMissed, QStringLiteral("gap: rows missed"), QColor(240, 150, 0, 110)},
};

// Light fills with a black outline, none of them a channel's line colour. Drawn in this order, so
// that an alarm stays visible over a note or a return to normal at the same time.
const Look MarkLooks[] = {
    {EventKind::Normal, QStringLiteral("normal"), QColor(255, 255, 255), QScatterSeries::MarkerShapeCircle},
    {EventKind::Note, QStringLiteral("note"), QColor(255, 230, 0), QScatterSeries::MarkerShapeRectangle},
    {EventKind::Function, QStringLiteral("meter function"), QColor(190, 240, 190), QScatterSeries::MarkerShapeRotatedRectangle},
    {EventKind::Overload, QStringLiteral("overload"), QColor(255, 120, 60), QScatterSeries::MarkerShapeStar},
    {EventKind::Low, QStringLiteral("low"), QColor(150, 210, 255), QScatterSeries::MarkerShapeTriangle},
    {EventKind::High, QStringLiteral("high"), QColor(255, 190, 220), QScatterSeries::MarkerShapeTriangle},
};
constexpr int MarkSize = 12;

double Ms(const QDateTime& t)
{
    return double(t.toMSecsSinceEpoch());
}

int ChannelOf(const QString& seriesName)
{
    return seriesName.section(QLatin1Char(' '), 1).toInt();
}

} // namespace

bool QueryChart::IsEventSeries(const QAbstractSeries* series) const
{
    return m_eventSeries.contains(series);
}

void QueryChart::ShowEvents(const QList<LoggedEvent>& events)
{
    QList<int> channels;
    for (const QString& name : SeriesNames())
        channels << ChannelOf(name);
    m_events = EventsForChart(events, m_x->min(), m_x->max(), channels);
    BreakLines();
    DrawEvents();
}

QStringList QueryChart::EventLegend() const
{
    QStringList names;
    for (const QAbstractSeries* s : m_eventSeries)
        names << s->name();
    return names;
}

QString QueryChart::MarkTipAt(const QPointF& point, const QString& kind) const
{
    QStringList tips;
    for (const EventMark& mark : m_events.marks)
        if (qAbs(Ms(mark.at) - point.x()) < 0.5 && (kind.isEmpty() || mark.kind == kind))
            tips << MarkTip(mark);
    return tips.join(QLatin1Char('\n'));
}

QString QueryChart::MarkTipAtPixel(const QPoint& viewportPos) const
{
    for (qsizetype i = m_eventSeries.size() - 1; i >= 0; --i) {
        auto* marks = qobject_cast<QScatterSeries*>(m_eventSeries[i]);
        if (!marks)
            continue;
        const QList<QPointF> points = marks->points();
        for (const QPointF& p : points) {
            const QPointF at = m_view->mapFromScene(m_chart->mapToScene(m_chart->mapToPosition(p, marks)));
            if (qAbs(at.x() - viewportPos.x()) <= MarkSize / 2 + 1 &&
                qAbs(at.y() - viewportPos.y()) <= MarkSize / 2 + 1)
                return MarkTipAt(p, marks->property("kind").toString());
        }
    }
    return QString();
}

bool QueryChart::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view->viewport() && event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = MarkTipAtPixel(help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, m_view->viewport(),
                               QRect(help->pos() - QPoint(MarkSize, MarkSize), QSize(2 * MarkSize, 2 * MarkSize)));
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void QueryChart::BreakLines()
{
    for (QAbstractSeries* s : std::as_const(m_segments)) {
        m_chart->removeSeries(s);
        delete s;
    }
    m_segments.clear();
    for (QAbstractSeries* s : m_chart->series()) {
        if (IsEventSeries(s))
            continue;
        auto* line = static_cast<QLineSeries*>(s);
        const QList<QPointF> points = line->points();
        QList<QList<QPointF>> runs{{}};
        for (const QPointF& p : points) {
            if (!runs.last().isEmpty()) {
                const double before = runs.last().last().x();
                for (const EventSpan& gap : std::as_const(m_events.gaps))
                    if (Ms(gap.from) < p.x() && Ms(gap.to) > before) {
                        runs.append(QList<QPointF>());
                        break;
                    }
            }
            runs.last().append(p);
        }
        if (runs.size() == 1)
            continue;
        line->replace(runs.first());
        for (qsizetype i = 1; i < runs.size(); ++i) {
            auto* segment = new QLineSeries;
            segment->setName(line->name());
            segment->setPen(line->pen());
            segment->replace(runs[i]);
            m_chart->addSeries(segment);
            segment->attachAxis(m_x);
            segment->attachAxis(m_y);
            for (QLegendMarker* marker : m_chart->legend()->markers(segment))
                marker->setVisible(false);
            m_segments.append(segment);
        }
    }
}

void QueryChart::DrawEvents()
{
    static bool drawing = false;
    if (drawing)
        return;
    drawing = true;
    for (QAbstractSeries* s : std::as_const(m_eventSeries)) {
        m_chart->removeSeries(s);
        delete s;
    }
    m_eventSeries.clear();

    const QDateTime xMin = m_x->min();
    const QDateTime xMax = m_x->max();
    const double yMin = m_y->min();
    const double yMax = m_y->max();
    const auto attach = [this](QAbstractSeries* series) {
        m_chart->addSeries(series);
        series->attachAxis(m_x);
        series->attachAxis(m_y);
        m_eventSeries.append(series);
    };
    for (const Look& look : GapLooks) {
        auto* upper = new QLineSeries;
        double first = 0, last = 0;
        for (const EventSpan& gap : std::as_const(m_events.gaps)) {
            if (gap.kind != look.kind)
                continue;
            if (upper->count() == 0)
                first = Ms(gap.from);
            last = Ms(gap.to);
            upper->append(
                {{Ms(gap.from), yMin}, {Ms(gap.from), yMax}, {Ms(gap.to), yMax}, {Ms(gap.to), yMin}});
        }
        if (upper->count() == 0) {
            delete upper;
            continue;
        }
        auto* lower = new QLineSeries;
        lower->append({{first, yMin}, {last, yMin}});
        auto* area = new QAreaSeries(upper, lower);
        upper->setParent(area); // the area series does not own its lines
        lower->setParent(area);
        area->setName(look.legend);
        area->setColor(look.colour);
        area->setBorderColor(look.colour.darker());
        attach(area);
    }
    // Just above the time axis, so that the whole mark shows.
    const double markY = yMin + (yMax - yMin) * 0.03;
    for (const Look& look : MarkLooks) {
        auto* marks = new QScatterSeries;
        for (const EventMark& mark : std::as_const(m_events.marks))
            if (mark.kind == look.kind)
                marks->append(Ms(mark.at), markY);
        if (marks->count() == 0) {
            delete marks;
            continue;
        }
        marks->setName(look.legend);
        marks->setColor(look.colour);
        marks->setBorderColor(Qt::black);
        marks->setMarkerShape(look.shape);
        marks->setMarkerSize(MarkSize);
        marks->setProperty("kind", look.kind);
        attach(marks);
    }
    // Attaching may widen the axes to the series' own extent; the chart keeps the range it had.
    m_x->setRange(xMin, xMax);
    m_y->setRange(yMin, yMax);
    drawing = false;
}
