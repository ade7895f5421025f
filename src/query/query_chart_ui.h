#pragma once
// The query chart of the 8-channel query window (Chart2D1): a header title, a chart with a time
// X axis ("HH:mm:ss", with the date when the range runs over more than one day), a Y axis and a right-hand Y2 axis that repeats it, a legend, and a footer
// title, in the window's fixed colours. One line series per channel, named "chan N", drawn from
// the query result's column of that name; a full file is thinned to what the width can show.
// Each channel has its own line colour (ChannelColour), the same in every query. The legend shows
// while there are series; a title without text is hidden.
// The window owns the ChartShown flag; this widget only holds the series.
#include "query/event_spans.h"
#include "query/query_result.h"

#include <QColor>
#include <QFrame>
#include <QPointF>

class QAbstractSeries;
class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QPainter;
class QValueAxis;

// The line colour of channel 1 to 16.
QColor ChannelColour(int channel);

class QueryChart : public QFrame {
    Q_OBJECT
  public:
    explicit QueryChart(QWidget* parent = nullptr);

    // Titles, colours, legend and borders as the window sets them at load.
    void SetupChart();

    // Adds one series "chan N" per channel, in the order given, from the result. A channel whose
    // column the result lacks (checked after the query ran) is skipped and named in the returned
    // list of messages.
    QStringList AddSeries(const QueryResult& result, const QList<int>& channels);
    void ClearSeries();
    QStringList SeriesNames() const;
    // Points of a series as drawn (after thinning), and its line colour.
    QList<QPointF> Points(const QString& name) const;
    QColor SeriesColour(const QString& name) const;

    void SetTitles(const QString& header, const QString& footer);
    QString Header() const;
    QString Footer() const;
    // The Y range; Y2 follows it. A range set here stays when series are added later.
    void SetYRange(double minimum, double maximum);
    double YMin() const;
    double YMax() const;
    // Major grid spacing of Y (from Y-min) and of X, in the axis's units (milliseconds for X).
    void SetYGridSpacing(double spacing);
    double YGridSpacing() const;
    void SetXGridSpacing(double spacing);
    // The X axis's current range, in milliseconds since the epoch.
    double XMin() const;
    double XMax() const;
    int XTickCount() const;

    // Draws the whole chart, titles included, scaled into `target` (a printer's page).
    void Paint(QPainter* painter, const QRectF& target);

    // The event log over the charted range (events oldest first; chart_events_ui.cpp): each gap
    // shaded over the whole Y range, the channel lines broken across it, notes and the alarm
    // changes of the charted channels marked on the time axis with a tooltip, one legend entry per
    // kind shown. Call after AddSeries; ClearSeries removes them too.
    void ShowEvents(const QList<LoggedEvent>& events);
    // The tooltip of the marks (of that kind, or of any) at a point of a mark series, one per
    // line; empty where there is none.
    QString MarkTipAt(const QPointF& point, const QString& kind = QString()) const;
    // The tooltip of the topmost mark drawn under a point of the chart view's viewport, the one
    // the mouse shows when it rests there; empty where there is none.
    QString MarkTipAtPixel(const QPoint& viewportPos) const;
    // The X axis's label format: "HH:mm:ss", with the date when the range covers more than one
    // calendar day.
    QString XFormat() const;
    // How many separate lines a channel's series is drawn as (1 without gaps).
    int LineRuns(const QString& name) const;
    // The legend entries of the events shown, in order.
    QStringList EventLegend() const;
    // What is drawn of the events.
    const ChartEvents& ShownEvents() const { return m_events; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FitAxes();
    void DrawEvents();
    void BreakLines();
    bool IsEventSeries(const QAbstractSeries* series) const;

    QLabel* m_header = nullptr;
    QLabel* m_footer = nullptr;
    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QDateTimeAxis* m_x = nullptr;
    QValueAxis* m_y = nullptr;
    QValueAxis* m_y2 = nullptr;
    bool m_yFixed = false;
    ChartEvents m_events;
    QList<QAbstractSeries*> m_eventSeries;
    QList<QAbstractSeries*> m_segments; // a channel's line after its first gap, out of the legend
};
