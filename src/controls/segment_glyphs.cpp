#include "controls/segment_glyphs.h"

#include "controls/segment_painter.h"

#include <QCache>
#include <QHashFunctions>
#include <QPainter>
#include <cmath>

namespace {
struct Key {
    double width;
    double height;
    qreal ratio;
    char16_t glyph;
    bool point;
    bool operator==(const Key&) const = default;
};

size_t qHash(const Key& key, size_t seed)
{
    return qHashMulti(seed, key.width, key.height, key.ratio, key.glyph, key.point);
}

QPixmap render(QSizeF size, qreal ratio, QChar glyph, bool point)
{
    QPixmap pixmap(int(std::ceil(size.width() * ratio)), int(std::ceil(size.height() * ratio)));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    SegmentPainter(p, size.width(), size.height()).draw(QPointF(0, 0), glyph, point);
    return pixmap;
}
} // namespace

QPixmap SegmentGlyphs::cell(QSizeF size, qreal devicePixelRatio, QChar glyph, bool point)
{
    if (size.isEmpty())
        return {};
    static QCache<Key, QPixmap> cache(CacheKiB);
    const Key key{size.width(), size.height(), devicePixelRatio, glyph.unicode(), point};
    if (const QPixmap* kept = cache.object(key))
        return *kept;
    const QPixmap pixmap = render(size, devicePixelRatio, glyph, point);
    const qsizetype kib = qsizetype(pixmap.width()) * pixmap.height() * pixmap.depth() / 8 / 1024 + 1;
    cache.insert(key, new QPixmap(pixmap), kib);
    return pixmap;
}
