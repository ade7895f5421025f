#pragma once
// NumLED: a seven-segment LED number panel for the live displays.
//
// Windows set a digit count, a number of decimal places and a value; the panel shows the value
// rounded to those decimals, right-aligned in its digit cells, lit segments bright on a dark face
// with the unlit segments dim. The digits fill the widget at a fixed shape (flush right where the
// widget is wider than they need), so the panel grows with the window.
//
// A value the cells cannot hold is never shown with digits dropped off its front: when the decimals
// do not fit, the panel shows as many of them as fit (rounded there); when even the integer part
// and sign do not fit, or the value is not a finite number, every cell shows a dash (the overflow
// pattern). The meter's invalid-reading marker 999999 is an ordinary number to the panel.
//
// The manual marker: a small "M" in the panel's top-left corner telling the user that the decimals
// (and the unit beside the panel) were set by hand in the channel setup instead of coming from the
// meter. Windows turn it on while a channel's manual unit applies.
//
// displayText() returns what the cells show, so tests need no pixels: one character per cell
// (blank, digit or '-'), with '.' after a cell whose decimal point is lit. Only a change of what
// the cells show (or of the size or marker) repaints the panel, and a new reading only the cells
// whose glyph changes: setting a value that shows the same text again schedules no paint.
//
// Painting copies each cell from pre-rendered glyphs shared by all panels of the same cell size
// (see SegmentGlyphs); setGlyphCache(false) draws every segment instead, to the same image, so a
// test can compare the two.
#include <QColor>
#include <QString>
#include <QWidget>

class NumLED : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int digitCount READ digitCount WRITE setDigitCount)
    Q_PROPERTY(int decimals READ decimals WRITE setDecimals)
    Q_PROPERTY(double value READ value WRITE setValue)
    Q_PROPERTY(bool manualMarker READ manualMarker WRITE setManualMarker)

  public:
    static constexpr int MaxDigits = 16;
    // The panel's face; a window framing panels can match it.
    static inline const QColor Face{12, 14, 12};

    explicit NumLED(QWidget* parent = nullptr);

    int digitCount() const { return m_digits; }
    // Clamped to 1..MaxDigits.
    void setDigitCount(int digits);
    int decimals() const { return m_decimals; }
    // Negative counts mean 0; more decimals than the cells hold are cut to fit when shown.
    void setDecimals(int decimals);
    double value() const { return m_value; }
    void setValue(double value);
    bool manualMarker() const { return m_manual; }
    void setManualMarker(bool on);
    bool glyphCache() const { return m_glyphCache; }
    void setGlyphCache(bool on);

    QString displayText() const;
    bool overflowed() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void relayout();

    int m_digits = 6;
    int m_decimals = 0;
    double m_value = 0;
    bool m_manual = false;
    bool m_glyphCache = true;
    QString m_text; // what the cells show, in displayText() form
    bool m_overflow = false;
};
