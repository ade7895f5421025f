#pragma once
// StripChart: a scrolling strip chart for the chart display.
//
// Each tick the window adds the tick's value to a trace (AddValue, trace 0 for the chart display)
// and then calls Advance, which appends one point to every trace in use (a trace that got no value
// this tick gets a gap) and redraws. The newest point sits at the right edge; older points scroll
// to the left. The Y axis runs from YMin at the bottom to YMax at the top; limits given the wrong way
// round are kept as they are and turn the chart upside down, equal limits draw every point on the
// middle line. Points beyond the limits are drawn at the edge they cross.
//
// Memory is fixed: every trace keeps its last Capacity points in a ring buffer allocated when the
// trace is first used, so a chart that runs for weeks holds what it held after Capacity ticks.
// memoryBytes() says how much the buffers hold.
//
// ScrollBack: how many points the view is scrolled back from the newest one (0 follows the newest);
// the mouse wheel changes it. Clear empties every trace; the window then sets ScrollBack to 0.
//
// Painting: the grid and axis labels are a cached layer rebuilt only when the size or the limits
// change; the traces are drawn over it, only the points that fit the width.
#include <QPixmap>
#include <QWidget>
#include <array>
#include <memory>

class StripChart : public QWidget {
    Q_OBJECT
    Q_PROPERTY(float YMax READ YMax WRITE setYMax)
    Q_PROPERTY(float YMin READ YMin WRITE setYMin)
    Q_PROPERTY(int ScrollBack READ ScrollBack WRITE setScrollBack)

  public:
    static constexpr int Traces = 4;
    static constexpr int Capacity = 7200; // two hours at one point a second
    static constexpr int PixelsPerPoint = 2;

    explicit StripChart(QWidget* parent = nullptr);
    ~StripChart() override;

    float YMax() const { return m_yMax; }
    void setYMax(float value);
    float YMin() const { return m_yMin; }
    void setYMin(float value);
    int ScrollBack() const { return m_scrollBack; }
    // Clamped to the points held.
    void setScrollBack(int points);

    // Values for traces outside 0..Traces-1 are ignored. A second value in the same tick replaces
    // the first.
    void AddValue(int trace, double value);
    void Advance();
    void Clear();

    // Points held by a trace (at most Capacity), and point i counted back from the newest (0); NaN
    // for a gap or a point not held.
    int pointCount(int trace) const;
    double point(int trace, int back) const;
    qint64 advances() const { return m_advances; }
    size_t memoryBytes() const;

    QSize sizeHint() const override { return {640, 300}; }
    QSize minimumSizeHint() const override { return {160, 100}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    struct Ring {
        std::unique_ptr<double[]> values; // Capacity entries once the trace is used
        int count = 0;
        double pending = 0;
        bool hasPending = false;
    };

    QRect plotArea() const;
    void invalidate();
    void renderGrid();

    float m_yMax = 10;
    float m_yMin = -10;
    int m_scrollBack = 0;
    int m_head = 0; // where the next point of every trace goes
    qint64 m_advances = 0;
    std::array<Ring, Traces> m_traces;
    QPixmap m_grid;
    bool m_gridValid = false;
};
