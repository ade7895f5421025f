#include "controls/led_panel.h"
#include "controls/segment_painter.h"
#include "paint_probe.h"
#include "test_registry.h"

#include <QImage>
#include <QTest>
#include <cmath>
#include <functional>
#include <limits>

namespace {
int litPixels(QWidget& w)
{
    const QImage image = w.grab().toImage();
    int lit = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            lit += image.pixelColor(x, y) == SegmentPainter::Lit;
    return lit;
}

// The largest difference of any colour channel between two images of the same size.
int largestDifference(const QImage& a, const QImage& b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            largest = std::max({largest, std::abs(p.red() - q.red()), std::abs(p.green() - q.green()),
                                std::abs(p.blue() - q.blue())});
        }
    return largest;
}
} // namespace

class LedPanelTest : public QObject {
    Q_OBJECT
  private slots:
    void showsValueRoundedAndRightAligned_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("digits");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("overflow");

        QTest::newRow("rounds to decimals") << 12.3456 << 6 << 2 << "  12.35" << false;
        QTest::newRow("negative below one") << -0.5 << 6 << 2 << "  -0.50" << false;
        QTest::newRow("pads decimals") << 7.0 << 8 << 2 << "     7.00" << false;
        QTest::newRow("zero, no decimals") << 0.0 << 6 << 0 << "     0" << false;
        QTest::newRow("rounds to integer") << 12.6 << 4 << 0 << "  13" << false;
        QTest::newRow("no minus on a rounded zero") << -0.001 << 6 << 2 << "   0.00" << false;
        QTest::newRow("negative fills every cell") << -99999.0 << 6 << 0 << "-99999" << false;
        QTest::newRow("invalid-reading marker") << 999999.0 << 6 << 0 << "999999" << false;
        QTest::newRow("marker with decimals that fit") << 999999.0 << 8 << 2 << "999999.00" << false;
        QTest::newRow("decimals dropped to fit") << 999999.0 << 6 << 3 << "999999" << false;
        QTest::newRow("more decimals than cells") << 1.23456789 << 6 << 8 << "1.23457" << false;
        QTest::newRow("rounding carries into a new digit") << 9999.96 << 5 << 1 << "10000" << false;
        QTest::newRow("negative decimals mean none") << 3.2 << 4 << -2 << "   3" << false;
        QTest::newRow("integer part too long") << 1234567.0 << 6 << 0 << "------" << true;
        QTest::newRow("sign makes it too long") << -999999.0 << 6 << 0 << "------" << true;
        QTest::newRow("huge") << 1e300 << 8 << 2 << "--------" << true;
        QTest::newRow("not a number") << std::nan("") << 4 << 1 << "----" << true;
        QTest::newRow("infinite") << -std::numeric_limits<double>::infinity() << 4 << 0 << "----" << true;
    }
    void showsValueRoundedAndRightAligned()
    {
        QFETCH(double, value);
        QFETCH(int, digits);
        QFETCH(int, decimals);
        QFETCH(QString, shown);
        QFETCH(bool, overflow);
        NumLED led;
        led.setDigitCount(digits);
        led.setDecimals(decimals);
        led.setValue(value);
        QCOMPARE(led.displayText(), shown);
        QCOMPARE(led.overflowed(), overflow);
    }

    // Whatever the settings, the panel shows exactly its cells and never a number other than the
    // value rounded to the decimals it shows.
    void neverShowsWrongDigits()
    {
        const double values[] = {0,        0.04,        -0.06,  1.5, -12.345, 999.999,
                                 123456.7, -98765.4321, 999999, 1e7, 3e-9};
        NumLED led;
        for (int digits = 1; digits <= 9; ++digits)
            for (int decimals = 0; decimals <= 7; ++decimals)
                for (double v : values) {
                    led.setDigitCount(digits);
                    led.setDecimals(decimals);
                    led.setValue(v);
                    const QString text = led.displayText();
                    const QString where = QStringLiteral("%1 in %2 digits, %3 decimals: \"%4\"")
                                              .arg(v)
                                              .arg(digits)
                                              .arg(decimals)
                                              .arg(text);
                    QVERIFY2(QString(text).remove(u'.').size() == digits, qPrintable(where));
                    if (led.overflowed())
                        continue;
                    const int point = text.indexOf(u'.');
                    const int shownDecimals = point < 0 ? 0 : int(text.size()) - point - 1;
                    QVERIFY2(shownDecimals <= decimals, qPrintable(where));
                    QVERIFY2(std::abs(text.trimmed().toDouble() - v) <=
                                 0.5 * std::pow(10, -shownDecimals) + 1e-9,
                             qPrintable(where));
                }
    }

    void digitCountIsClampedAndWidensHint()
    {
        NumLED led;
        led.setDigitCount(0);
        QCOMPARE(led.digitCount(), 1);
        led.setDigitCount(100);
        QCOMPARE(led.digitCount(), NumLED::MaxDigits);
        led.setDigitCount(6);
        const QSize six = led.sizeHint();
        led.setDigitCount(8);
        QVERIFY(led.sizeHint().width() > six.width());
        QVERIFY(led.minimumSizeHint().width() < led.sizeHint().width());
    }

    void paintsAtAnySize_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("empty") << QSize(0, 0);
        QTest::newRow("tiny") << QSize(3, 2);
        QTest::newRow("thin and tall") << QSize(20, 400);
        QTest::newRow("wide and flat") << QSize(900, 12);
        QTest::newRow("large") << QSize(1600, 500);
    }
    void paintsAtAnySize()
    {
        QFETCH(QSize, size);
        NumLED led;
        led.setDigitCount(8);
        led.setDecimals(3);
        led.setValue(-8.888);
        led.setManualMarker(true);
        led.resize(size);
        QCOMPARE(led.grab().size(), size);
    }

    void digitsFillTheWidget()
    {
        NumLED led;
        led.setDigitCount(6);
        led.setValue(888888);
        led.resize(240, 80);
        const int small = litPixels(led);
        QVERIFY(small > 0);
        led.resize(480, 160);
        QVERIFY(litPixels(led) > 3 * small);

        led.setValue(std::nan(""));
        const int dashes = litPixels(led);
        QVERIFY(dashes > 0);
        led.setValue(888888);
        QVERIFY(litPixels(led) > 3 * dashes);
    }

    void manualMarkerLightsUp()
    {
        NumLED led;
        led.setDigitCount(4);
        led.setValue(1);
        led.resize(200, 60);
        const int without = litPixels(led);
        led.setManualMarker(true);
        QVERIFY(litPixels(led) > without);
        QVERIFY(!led.toolTip().isEmpty());
        led.setManualMarker(false);
        QCOMPARE(litPixels(led), without);
    }

    // Cells copied from the shared glyphs look like cells drawn segment by segment: where the cells
    // fall between pixels, where the panel sits at an odd place in its window, and at pixel ratios
    // above one.
    void cachedCellsMatchDirectPainting_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("digits");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("every segment lit") << -8.888 << 8 << 3 << QRect(0, 0, 400, 80) << 1.0;
        QTest::newRow("fractional cells") << 1234.5 << 6 << 1 << QRect(0, 0, 237, 61) << 1.0;
        QTest::newRow("blank cells, offset") << 7.0 << 6 << 0 << QRect(13, 7, 301, 97) << 1.0;
        QTest::newRow("overflow dashes") << std::nan("") << 5 << 0 << QRect(0, 0, 180, 45) << 1.0;
        QTest::newRow("double ratio") << 90.12 << 6 << 2 << QRect(5, 3, 213, 55) << 2.0;
        QTest::newRow("fractional ratio, odd offset") << -3.5 << 5 << 1 << QRect(7, 5, 190, 50) << 1.5;
    }
    void cachedCellsMatchDirectPainting()
    {
        QFETCH(double, value);
        QFETCH(int, digits);
        QFETCH(int, decimals);
        QFETCH(QRect, place);
        QFETCH(qreal, ratio);
        QWidget window;
        window.resize(place.right() + 9, place.bottom() + 9);
        auto* led = new NumLED(&window);
        led->setDigitCount(digits);
        led->setDecimals(decimals);
        led->setValue(value);
        led->setGeometry(place);
        const auto image = [&window, ratio] {
            QImage image(window.size() * ratio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::white);
            window.render(&image);
            return image;
        };
        QVERIFY(led->glyphCache());
        const QImage cached = image();
        led->setGlyphCache(false);
        const QImage direct = image();
        QVERIFY(litPixels(*led) > 0);
        QVERIFY(largestDifference(cached, direct) <= 2);
    }

    // A new reading repaints every pixel that changes, and no more than the cells that change.
    void repaintsWhatChanges_data()
    {
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<bool>("lastCellsOnly");
        QTest::newRow("last digit") << 12.34 << 12.35 << true;
        QTest::newRow("last two digits") << 12.34 << 12.41 << true;
        QTest::newRow("point moves") << 12.34 << 123.4 << false;
        QTest::newRow("sign appears") << 5.0 << -5.0 << false;
        QTest::newRow("new leading digit") << 99.99 << 100.0 << false;
        QTest::newRow("to overflow") << 12.34 << std::nan("") << false;
        QTest::newRow("from overflow") << 1e9 << 0.0 << false;
    }
    void repaintsWhatChanges()
    {
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(bool, lastCellsOnly);
        QWidget window;
        window.resize(320, 100);
        auto* led = new NumLED(&window);
        led->setDecimals(2);
        led->setValue(from);
        led->setGeometry(13, 9, 283, 73);
        PaintProbe probe;
        led->installEventFilter(&probe);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(probe.paints > 0);
        QCoreApplication::processEvents();
        const QImage before = led->grab().toImage();
        probe.painted = {};

        led->setValue(to);
        QTRY_VERIFY(!probe.painted.isEmpty());
        const QRegion painted = probe.painted;
        const QImage after = led->grab().toImage();
        QVERIFY(before != after);
        const QString unpainted = unpaintedChange(before, after, painted);
        QVERIFY2(unpainted.isEmpty(), qPrintable(unpainted));
        if (lastCellsOnly)
            QVERIFY(painted.boundingRect().left() > led->width() / 2);
    }

    // A live display sets every panel five times a second, mostly to what it shows already: only a
    // change of what the cells show (or of the marker) may repaint.
    void sameTextSchedulesNoPaint()
    {
        NumLED led;
        led.setDecimals(2);
        led.setValue(12.341);
        led.resize(240, 60);
        PaintProbe probe;
        led.installEventFilter(&probe);
        led.show();
        QVERIFY(QTest::qWaitForWindowExposed(&led));
        QTRY_VERIFY(probe.paints > 0);
        const auto paints = [&probe](const std::function<void()>& change) {
            QCoreApplication::processEvents();
            const int before = probe.paints;
            change();
            QCoreApplication::processEvents();
            return probe.paints - before;
        };

        QCOMPARE(paints([&led] { led.setValue(12.341); }), 0);
        QCOMPARE(paints([&led] { led.setValue(12.338); }), 0);
        QCOMPARE(paints([&led] {
                     led.setDecimals(2);
                     led.setDigitCount(led.digitCount());
                     led.setManualMarker(false);
                 }),
                 0);
        QCOMPARE(paints([&led] { led.setValue(12.35); }), 1);
        QCOMPARE(paints([&led] { led.setManualMarker(true); }), 1);
        QCOMPARE(paints([&led] { led.setDecimals(1); }), 1);
    }
};

VARNIK_TEST_CLASS(LedPanelTest)
#include "led_panel_test.moc"
