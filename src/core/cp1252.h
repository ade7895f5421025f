#pragma once
// Windows-1252, the single-byte code page of the configuration files (unit names, the data file
// name, manual unit texts). Qt has no codec for it, so the table lives here.
// Decoding never fails: the five bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the control characters of the same number, so every byte string survives a round
// trip. Encoding fails for a character outside the code page.
#include <QByteArray>
#include <QString>

QString FromCp1252(const QByteArray& bytes);

// Encodes `text`; returns false (and leaves *bytes unspecified) when a character has no byte in
// the code page. `*badChar`, when given, receives the first such character.
bool ToCp1252(const QString& text, QByteArray* bytes, QChar* badChar = nullptr);
