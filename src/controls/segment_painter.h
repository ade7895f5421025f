#pragma once
// Paints seven-segment digit cells with a slight forward slant; used by the LED panel.
// A cell holds one glyph (a digit, '-' or blank) and an optional decimal point at its lower right.
// Unknown glyphs paint as blank cells. Every segment is drawn, unlit ones dim, as on a real panel.
#include <QColor>
#include <QPointF>

class QPainter;

class SegmentPainter {
  public:
    static inline const QColor Lit{90, 255, 120};
    static inline const QColor Unlit{20, 44, 25};

    SegmentPainter(QPainter& painter, double cellWidth, double cellHeight);
    void draw(QPointF topLeft, QChar glyph, bool point);

  private:
    QPainter& m_p;
    double m_w;
    double m_h;
};
