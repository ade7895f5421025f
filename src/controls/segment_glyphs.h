#pragma once
// SegmentGlyphs: seven-segment cells rendered once and kept, so that repainting an LED panel copies
// one pixmap per cell instead of drawing every segment again. Called by NumLED while painting, on
// the GUI thread only.
//
// cell() returns the image of one cell (glyph and decimal point) of the given logical size, drawn
// by SegmentPainter on a transparent background with its top-left at the pixmap's origin. The pixmap
// carries the device pixel ratio, so drawPixmap at a point on the device pixel grid copies it 1:1.
// Every panel with the same cell size and ratio gets the same pixmap (same cacheKey()). The cache is
// bounded: the least recently used cells go first, and a cell too large to keep is rendered,
// returned and not kept. Nothing here fails.
#include <QChar>
#include <QPixmap>
#include <QSizeF>

namespace SegmentGlyphs {
// Total size of the kept pixmaps.
constexpr int CacheKiB = 16 * 1024;

QPixmap cell(QSizeF size, qreal devicePixelRatio, QChar glyph, bool point);
} // namespace SegmentGlyphs
