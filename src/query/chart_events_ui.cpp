// The query chart's drawing of the event log: one area series per kind of gap, one scatter series
// per kind of mark, kept apart from the channel series.
#include "query/query_chart_ui.h"

#include <QAreaSeries>
#include <QChart>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QScatterSeries>
#include <QValueAxis>

namespace {

struct Look {
    QString kind;
    QString legend;
    QColor colour;
};

const Look GapLooks[] = {
    {EventKind::LinkLost, QStringLiteral("gap: link lost"), QColor(220, 40, 40, 90)},
    {EventKind::Paused, QStringLiteral("gap: paused"), QColor(110, 110, 110, 90)},
    {EventKind::RowsMissed, QStringLiteral("gap: rows missed"), QColor(240, 150, 0, 110)},
};

const Look MarkLooks[] = {
    {EventKind::Note, QStringLiteral("note"), QColor(30, 90, 220)},
    {EventKind::High, QStringLiteral("high"), QColor(200, 0, 0)},
    {EventKind::Low, QStringLiteral("low"), QColor(120, 0, 200)},
    {EventKind::Normal, QStringLiteral("normal"), QColor(0, 150, 60)},
};

double Ms(const QDateTime& t)
{
    return double(t.toMSecsSinceEpoch());
}

} // namespace

bool QueryChart::IsEventSeries(const QAbstractSeries* series) const
{
    return m_eventSeries.contains(series);
}

void QueryChart::ShowEvents(const QList<LoggedEvent>& events)
{
    m_events = EventsForChart(events, m_x->min(), m_x->max());
    DrawEvents();
}

QStringList QueryChart::EventLegend() const
{
    QStringList names;
    for (const QAbstractSeries* s : m_eventSeries)
        names << s->name();
    return names;
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
        marks->setMarkerSize(11);
        attach(marks);
    }
    // Attaching may widen the axes to the series' own extent; the chart keeps the range it had.
    m_x->setRange(xMin, xMax);
    m_y->setRange(yMin, yMax);
    drawing = false;
}
