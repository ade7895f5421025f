#pragma once
// What the identity windows (splash, About box, main window) draw and say about the program:
// the product description in its branded and generic forms, the program revision, and the logo.
#include <QPixmap>
#include <QString>

// Two lines: the product name, then " ( Software for u-P instrument & DMM )".
QString ProductDescription(bool generic);
// "Revised : major.minor.patch" of this build, each part a plain decimal number.
QString RevisionText();
// The same from the parts as written in the project version ("8", "01", "0017" give 8.1.17).
QString RevisionText(const QString& major, const QString& minor, const QString& patch);
// The program's logo, painted at `side` by `side` device-independent pixels.
QPixmap VarnikLogo(int side);
