#include "controls/segment_glyphs.h"
#include "test_registry.h"

#include <QTest>
#include <cmath>

class SegmentGlyphsTest : public QObject {
    Q_OBJECT
  private slots:
    // Panels of one cell size share each rendered cell; anything that changes the image gets its own.
    void sameCellIsRenderedOnce()
    {
        const QSizeF size(30.6, 51);
        const qint64 kept = SegmentGlyphs::cell(size, 1, u'8', true).cacheKey();
        QCOMPARE(SegmentGlyphs::cell(size, 1, u'8', true).cacheKey(), kept);
        const qint64 others[] = {
            SegmentGlyphs::cell(size, 1, u'8', false).cacheKey(),
            SegmentGlyphs::cell(size, 1, u'-', true).cacheKey(),
            SegmentGlyphs::cell(QSizeF(30.7, 51), 1, u'8', true).cacheKey(),
            SegmentGlyphs::cell(size, 2, u'8', true).cacheKey(),
        };
        for (qint64 other : others)
            QVERIFY(other != kept);
    }

    // A cell covers its logical size in whole device pixels, so it copies 1:1 at any pixel ratio.
    void cellCoversItsSizeInDevicePixels_data()
    {
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("whole pixels") << QSizeF(30, 50) << 1.0;
        QTest::newRow("fractional size") << QSizeF(30.6, 51.2) << 1.0;
        QTest::newRow("double ratio") << QSizeF(30.6, 51.2) << 2.0;
        QTest::newRow("fractional ratio") << QSizeF(17.3, 28.9) << 1.25;
    }
    void cellCoversItsSizeInDevicePixels()
    {
        QFETCH(QSizeF, size);
        QFETCH(qreal, ratio);
        const QPixmap cell = SegmentGlyphs::cell(size, ratio, u'0', false);
        QCOMPARE(cell.devicePixelRatio(), ratio);
        QCOMPARE(cell.size(),
                 QSize(int(std::ceil(size.width() * ratio)), int(std::ceil(size.height() * ratio))));
        QVERIFY(cell.hasAlphaChannel());
    }

    void emptyCellIsNull()
    {
        QVERIFY(SegmentGlyphs::cell(QSizeF(0, 20), 1, u'1', false).isNull());
        QVERIFY(SegmentGlyphs::cell(QSizeF(12, -1), 1, u'1', false).isNull());
    }
};

VARNIK_TEST_CLASS(SegmentGlyphsTest)
#include "segment_glyphs_test.moc"
