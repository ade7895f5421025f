#include "query/query_chart_ui.h"

#include "query/chart_points.h"

#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QPainter>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>

namespace {

const QColor TitleColour(255, 235, 205);
const QColor LegendColour(210, 180, 140);
const QColor ChartColour(233, 150, 122);

// Sixteen line colours that stay apart from each other and from the white plot area.
const QColor ChannelColours[16] = {
    QColor(0x00, 0x50, 0xd8), QColor(0xe0, 0x10, 0x30), QColor(0x20, 0xa0, 0x20), QColor(0xf0, 0x80, 0x00),
    QColor(0x90, 0x20, 0xc0), QColor(0x00, 0xa8, 0xb8), QColor(0xe8, 0x30, 0xc8), QColor(0x8a, 0x5a, 0x20),
    QColor(0x00, 0x00, 0x00), QColor(0xa0, 0xa0, 0x00), QColor(0x00, 0x1a, 0x70), QColor(0x90, 0x90, 0x90),
    QColor(0x80, 0x00, 0x10), QColor(0x60, 0xe0, 0xa0), QColor(0xff, 0x80, 0x80), QColor(0x00, 0x60, 0x40),
};

void StyleTitle(QLabel* title)
{
    QFont font = title->font();
    font.setPointSize(10);
    font.setBold(true);
    title->setFont(font);
    title->setAlignment(Qt::AlignCenter);
    title->setStyleSheet(QStringLiteral("background-color: %1; border: 4px ridge #b0a080; padding: 2px 12px;")
                             .arg(TitleColour.name()));
    title->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

QLineSeries* FindSeries(QChart* chart, const QString& name)
{
    for (QAbstractSeries* s : chart->series())
        if (s->name() == name)
            return static_cast<QLineSeries*>(s);
    return nullptr;
}

} // namespace

QColor ChannelColour(int channel)
{
    return ChannelColours[size_t((std::max(channel, 1) - 1) % 16)];
}

QueryChart::QueryChart(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("Chart2D1"));
    m_header = new QLabel(this);
    m_header->setObjectName(QStringLiteral("Header"));
    m_footer = new QLabel(this);
    m_footer->setObjectName(QStringLiteral("Footer"));
    m_chart = new QChart;
    m_view = new QChartView(m_chart, this);
    m_view->setRenderHint(QPainter::Antialiasing, false);
    m_view->setMinimumHeight(220);
    // The scene would answer the tooltip request itself, with no text, and hide a mark's tooltip.
    m_view->viewport()->installEventFilter(this);

    m_x = new QDateTimeAxis;
    m_x->setObjectName(QStringLiteral("X"));
    m_x->setFormat(QStringLiteral("HH:mm:ss"));
    m_y = new QValueAxis;
    m_y->setObjectName(QStringLiteral("Y"));
    m_y2 = new QValueAxis;
    m_y2->setObjectName(QStringLiteral("Y2"));
    m_chart->addAxis(m_x, Qt::AlignBottom);
    m_chart->addAxis(m_y, Qt::AlignLeft);
    m_chart->addAxis(m_y2, Qt::AlignRight);
    connect(m_y, &QValueAxis::rangeChanged, m_y2, &QValueAxis::setRange);
    // Gaps are shaded over the whole Y range, whatever it becomes.
    connect(m_y, &QValueAxis::rangeChanged, this, &QueryChart::DrawEvents);
    const QDateTime now = QDateTime::currentDateTime();
    m_x->setRange(now.addSecs(-3600), now);
    m_y->setRange(0, 100);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_header, 0, Qt::AlignHCenter);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_footer, 0, Qt::AlignHCenter);
}

void QueryChart::SetupChart()
{
    StyleTitle(m_header);
    StyleTitle(m_footer);
    SetTitles(QStringLiteral(" chart Header"), QStringLiteral("Chart Footer"));

    QLegend* legend = m_chart->legend();
    legend->setBackgroundVisible(true);
    legend->setBrush(LegendColour);
    legend->setPen(QPen(Qt::darkGray, 2));
    QFont font = legend->font();
    font.setPointSize(9);
    legend->setFont(font);
    legend->setAlignment(Qt::AlignRight);
    legend->hide(); // an empty legend would be an empty box: it shows with the first series

    m_chart->setPlotAreaBackgroundVisible(true);
    m_chart->setPlotAreaBackgroundBrush(Qt::white);
    m_chart->setPlotAreaBackgroundPen(QPen(Qt::black, 2));
    m_chart->setBackgroundBrush(ChartColour);
    m_chart->setBackgroundPen(QPen(Qt::darkGray, 2));
    m_chart->setBackgroundRoundness(0);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, ChartColour);
    setPalette(p);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(4);
}

QStringList QueryChart::AddSeries(const QueryResult& result, const QList<int>& channels)
{
    QStringList missing;
    const std::vector<double> times = ChartTimes(result);
    for (int channel : channels) {
        const QString name = QStringLiteral("chan %1").arg(channel);
        const int column = result.columnOf(name);
        if (column < 0 || result.kind(column) != QueryResult::Kind::Reading) {
            missing << QStringLiteral("Channel %1 is not in the query result: run \"Data Query\" with it "
                                      "checked to chart it.")
                           .arg(channel);
            continue;
        }
        auto* series = new QLineSeries;
        series->setName(name);
        series->setPen(QPen(ChannelColour(channel), 2));
        // Two points per pixel column keep every peak; more would only cost drawing time.
        series->replace(ChartPoints(result, times, column, std::max(2000, 2 * m_view->width())));
        m_chart->addSeries(series);
        series->attachAxis(m_x);
        series->attachAxis(m_y);
    }
    m_chart->legend()->setVisible(!m_chart->series().isEmpty());
    FitAxes();
    return missing;
}

void QueryChart::FitAxes()
{
    double xMin = qInf(), xMax = -qInf(), yMin = qInf(), yMax = -qInf();
    for (QAbstractSeries* s : m_chart->series()) {
        if (IsEventSeries(s))
            continue;
        for (const QPointF& p : static_cast<QLineSeries*>(s)->points()) {
            xMin = std::min(xMin, p.x());
            xMax = std::max(xMax, p.x());
            yMin = std::min(yMin, p.y());
            yMax = std::max(yMax, p.y());
        }
    }
    if (!std::isfinite(xMin))
        return;
    if (xMax <= xMin)
        xMax = xMin + 1000;
    m_x->setRange(QDateTime::fromMSecsSinceEpoch(qint64(xMin)), QDateTime::fromMSecsSinceEpoch(qint64(xMax)));
    // Times alone would repeat once the range runs past midnight.
    m_x->setFormat(m_x->min().date() != m_x->max().date() ? QStringLiteral("yyyy-MM-dd HH:mm")
                                                           : QStringLiteral("HH:mm:ss"));
    if (!m_yFixed) {
        const double pad = yMax > yMin ? (yMax - yMin) * 0.05 : 1;
        m_y->setRange(yMin - pad, yMax + pad);
    }
}

void QueryChart::ClearSeries()
{
    const QList<QAbstractSeries*> all = m_chart->series();
    for (qsizetype i = all.size() - 1; i >= 0; --i) {
        m_chart->removeSeries(all[i]);
        delete all[i];
    }
    m_eventSeries.clear();
    m_segments.clear();
    m_events = {};
    m_chart->legend()->hide();
}

QStringList QueryChart::SeriesNames() const
{
    QStringList names;
    for (QAbstractSeries* s : m_chart->series())
        if (!IsEventSeries(s) && !m_segments.contains(s))
            names << s->name();
    return names;
}

QList<QPointF> QueryChart::Points(const QString& name) const
{
    QList<QPointF> points;
    for (QAbstractSeries* s : m_chart->series())
        if (s->name() == name && !IsEventSeries(s))
            points += static_cast<QLineSeries*>(s)->points();
    return points;
}

int QueryChart::LineRuns(const QString& name) const
{
    int runs = 0;
    for (QAbstractSeries* s : m_chart->series())
        runs += s->name() == name && !IsEventSeries(s);
    return runs;
}

QString QueryChart::XFormat() const
{
    return m_x->format();
}

QColor QueryChart::SeriesColour(const QString& name) const
{
    QLineSeries* s = FindSeries(m_chart, name);
    return s ? s->pen().color() : QColor();
}

void QueryChart::SetTitles(const QString& header, const QString& footer)
{
    // A title without text would be an empty box.
    m_header->setText(header);
    m_header->setVisible(!header.trimmed().isEmpty());
    m_footer->setText(footer);
    m_footer->setVisible(!footer.trimmed().isEmpty());
}

QString QueryChart::Header() const
{
    return m_header->text();
}

QString QueryChart::Footer() const
{
    return m_footer->text();
}

void QueryChart::SetYRange(double minimum, double maximum)
{
    m_yFixed = true;
    m_y->setRange(minimum, maximum);
}

double QueryChart::YMin() const
{
    return m_y->min();
}

double QueryChart::YMax() const
{
    return m_y->max();
}

void QueryChart::SetYGridSpacing(double spacing)
{
    if (!(spacing > 0) || !std::isfinite(spacing) || (m_y->max() - m_y->min()) / spacing > 1000)
        return;
    m_y->setTickType(QValueAxis::TicksDynamic);
    m_y->setTickAnchor(m_y->min());
    m_y->setTickInterval(spacing);
    m_y2->setTickType(QValueAxis::TicksDynamic);
    m_y2->setTickAnchor(m_y->min());
    m_y2->setTickInterval(spacing);
}

double QueryChart::YGridSpacing() const
{
    return m_y->tickType() == QValueAxis::TicksDynamic ? m_y->tickInterval() : 0;
}

void QueryChart::SetXGridSpacing(double spacing)
{
    const double span = XMax() - XMin();
    if (!(spacing > 0) || !(span > 0))
        return;
    // A date-time axis divides its range into equal parts; the count of parts carries the spacing.
    m_x->setTickCount(int(std::clamp(std::floor(span / spacing + 1e-9), 1.0, 100.0)) + 1);
}

double QueryChart::XMin() const
{
    return double(m_x->min().toMSecsSinceEpoch());
}

double QueryChart::XMax() const
{
    return double(m_x->max().toMSecsSinceEpoch());
}

int QueryChart::XTickCount() const
{
    return m_x->tickCount();
}

void QueryChart::Paint(QPainter* painter, const QRectF& target)
{
    const double scale = std::min(target.width() / width(), target.height() / height());
    painter->save();
    painter->translate(target.topLeft());
    painter->scale(scale, scale);
    render(painter, QPoint(), QRegion(), QWidget::DrawChildren | QWidget::DrawWindowBackground);
    painter->restore();
}
