#pragma once
// Odometer: a count shown as a row of counter wheels (the live displays show the recorded rows).
//
// Windows set the count; the wheels show it with leading zeros. At least wheelCount() wheels are
// drawn; a count with more digits gets more wheels rather than losing its leading digits, and a
// negative count shows a minus on its first wheel. When the count steps up or down by less than
// ten, the wheels roll to it briefly like a mechanical counter; larger jumps show at once. While
// they roll, only the wheels that turn are repainted.
//
// settle(): the window calls it once when it opens. It stops any roll in progress and makes the
// next count show at once, so a window that opens on a file with 1234 rows does not roll up from 0.
//
// displayText() is the digits the wheels come to rest on, for tests.
#include <QString>
#include <QVarLengthArray>
#include <QWidget>

class QVariantAnimation;

class Odometer : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int count READ count WRITE setCount)
    Q_PROPERTY(int wheelCount READ wheelCount WRITE setWheelCount)

  public:
    static constexpr int MaxWheels = 11; // "-2147483648"

    explicit Odometer(QWidget* parent = nullptr);

    int count() const { return m_count; }
    void setCount(int count);
    int wheelCount() const { return m_wheels; }
    // Clamped to 1..MaxWheels.
    void setWheelCount(int wheels);
    void settle();
    // True while the wheels are rolling towards the count.
    bool rolling() const;

    QString displayText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // What one wheel shows: digit (-1 a minus sign), and how far (0..1) it has turned towards next.
    struct Face {
        int digit;
        double roll;
        int next;
        bool operator==(const Face&) const = default;
    };
    using Faces = QVarLengthArray<Face, MaxWheels>; // from the right
    struct Layout {
        double left;
        double top;
        double wheelW;
        double wheelH;
    };

    int shownWheels() const;
    Layout layout() const;
    QRectF wheelRect(int w) const; // w counts from the right
    Faces facesAt(double position) const;
    void paintWheel(QPainter& p, const QRectF& wheel, const Face& shown) const;

    int m_count = 0;
    int m_wheels = 6;
    double m_position = 0; // the count the wheels show now; fractional while rolling
    bool m_snapNext = true;
    QVariantAnimation* m_roll;
};
