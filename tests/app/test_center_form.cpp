#include "platform/center_form_ui.h"
#include "test_registry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>

class TestCenterForm : public QObject {
    Q_OBJECT
  private slots:
    void position_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<double>("twipsPerPixel");
        QTest::addColumn<QPoint>("expected");

        // 96 dpi: 15 twips a pixel, so the 100-twip drop is 6.67 pixels.
        QTest::newRow("fits") << QRect(0, 0, 800, 600) << QSize(400, 300) << 15.0 << QPoint(200, 157);
        QTest::newRow("area below a top panel")
            << QRect(0, 30, 800, 570) << QSize(400, 300) << 15.0 << QPoint(200, 172);
        QTest::newRow("area right of a side panel")
            << QRect(64, 0, 736, 600) << QSize(400, 300) << 15.0 << QPoint(232, 157);
        QTest::newRow("odd remainder truncates")
            << QRect(0, 0, 801, 601) << QSize(400, 300) << 15.0 << QPoint(200, 157);
        QTest::newRow("larger than the area")
            << QRect(0, 0, 800, 600) << QSize(1000, 800) << 15.0 << QPoint(-100, -93);
        // 120 dpi: 12 twips a pixel, the drop is 8.33 pixels.
        QTest::newRow("120 dpi") << QRect(0, 0, 1920, 1040) << QSize(640, 480) << 12.0 << QPoint(640, 288);
    }

    void position()
    {
        QFETCH(QRect, area);
        QFETCH(QSize, size);
        QFETCH(double, twipsPerPixel);
        QFETCH(QPoint, expected);
        QCOMPARE(CenteredPosition(area, size, twipsPerPixel, twipsPerPixel), expected);
    }

    void movesWithoutResizing()
    {
        QWidget window;
        window.resize(300, 200);
        CenterForm(&window);
        const QScreen* screen = QGuiApplication::primaryScreen();
        QCOMPARE(window.size(), QSize(300, 200));
        QCOMPARE(window.pos(), CenteredPosition(screen->availableGeometry(), window.frameGeometry().size(),
                                                TwipsPerPixelX(screen), TwipsPerPixelY(screen)));
    }
};

VARNIK_TEST_CLASS(TestCenterForm)
#include "test_center_form.moc"
