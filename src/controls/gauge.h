#pragma once
// AGauge: a circular analogue gauge for the angular display.
//
// The window sets the scale ends, three tick sets and three coloured ring zones by the property
// names the display uses: TicID selects the tick set (0 large ticks, 1 small ticks, 2 labelled
// ticks) that the next TicDelta applies to; AnnularID selects the zone (0, 1, 2) that the next
// AnnularStartValue and AnnularStopValue apply to. The needle shows setNeedleValue(); a value off
// the scale pins the needle at the nearer end stop; not a number (no current reading) shows no
// needle.
//
// Degenerate settings never hang nor flood the painter: a tick set whose spacing is 0, negative or
// not finite, a scale whose minimum is not below its maximum, and a spacing that would give more
// than MaxTicksPerSet ticks draw no ticks of that set. Zones are clipped to the scale; a zone whose
// start and stop are equal draws nothing, one given backwards is drawn between its two values.
//
// Painting: the face, zones, ticks and labels are rendered once into a cached layer, rebuilt only
// when a setting or the size changes; a needle move repaints the area the old and new needle cover.
// The window may place child widgets (value and unit labels) on the lower part of the face.
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <array>
#include <vector>

class AGauge : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double ScaleMinValue READ ScaleMinValue WRITE setScaleMinValue)
    Q_PROPERTY(double ScaleMaxValue READ ScaleMaxValue WRITE setScaleMaxValue)
    Q_PROPERTY(int TicID READ TicID WRITE setTicID)
    Q_PROPERTY(double TicDelta READ TicDelta WRITE setTicDelta)
    Q_PROPERTY(int AnnularID READ AnnularID WRITE setAnnularID)
    Q_PROPERTY(double AnnularStartValue READ AnnularStartValue WRITE setAnnularStartValue)
    Q_PROPERTY(double AnnularStopValue READ AnnularStopValue WRITE setAnnularStopValue)

  public:
    static constexpr int TickSets = 3;
    static constexpr int Zones = 3;
    static constexpr int MaxTicksPerSet = 400;
    // The needle sweeps this many degrees, from the lower left to the lower right.
    static constexpr double SweepDegrees = 270;

    explicit AGauge(QWidget* parent = nullptr);

    double ScaleMinValue() const { return m_min; }
    void setScaleMinValue(double value);
    double ScaleMaxValue() const { return m_max; }
    void setScaleMaxValue(double value);
    // Selections outside 0..2 are ignored (the previous selection stays).
    int TicID() const { return m_ticId; }
    void setTicID(int id);
    double TicDelta() const { return m_ticDelta[m_ticId]; }
    void setTicDelta(double delta);
    int AnnularID() const { return m_zoneId; }
    void setAnnularID(int id);
    double AnnularStartValue() const { return m_zones[m_zoneId].start; }
    void setAnnularStartValue(double value);
    double AnnularStopValue() const { return m_zones[m_zoneId].stop; }
    void setAnnularStopValue(double value);

    double needleValue() const { return m_needle; }
    void setNeedleValue(double value);

    // The scale values at which tick set `id` is drawn (empty for degenerate settings).
    std::vector<double> tickValues(int id) const;
    // Where the needle points, as a fraction 0..1 of the sweep.
    double needleFraction() const;

    // The value and unit captions the window shows on the open lower part of the face: the gauge
    // takes them as children and keeps them in valueArea() and unitArea() as it is resized, clear
    // of the scale's end labels, its ticks and the rim whatever the gauge's proportions.
    void setCaptions(QWidget* value, QWidget* unit);
    QRect valueArea() const;
    QRect unitArea() const;
    // Where the label of a scale value is drawn (the text's own bounds).
    QRectF tickLabelBounds(double value) const;

    QSize sizeHint() const override { return {240, 240}; }
    QSize minimumSizeHint() const override { return {80, 80}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Zone {
        double start = 0;
        double stop = 0;
    };

    void invalidate();
    void renderFace();
    QRectF dial() const;
    QFont labelFont() const;
    QRectF labelBox(double value) const;
    void placeCaptions();
    QPolygonF needlePolygon(double fraction) const;
    double fractionOf(double value) const;

    double m_min = 0;
    double m_max = 100;
    int m_ticId = 0;
    std::array<double, TickSets> m_ticDelta{10, 2, 20};
    int m_zoneId = 0;
    std::array<Zone, Zones> m_zones{};
    double m_needle = 0;
    QPixmap m_face;
    QPointer<QWidget> m_valueCaption;
    QPointer<QWidget> m_unitCaption;
    bool m_faceValid = false;
};
