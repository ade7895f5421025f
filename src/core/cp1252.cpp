#include "core/cp1252.h"

#include <array>

namespace {

// Bytes 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> HighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool EncodeChar(char16_t c, char* out)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        *out = static_cast<char>(c);
        return true;
    }
    for (std::size_t i = 0; i < HighControls.size(); ++i) {
        if (HighControls[i] == c) {
            *out = static_cast<char>(0x80 + i);
            return true;
        }
    }
    return false;
}

} // namespace

QString FromCp1252(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        *out++ = QChar(u >= 0x80 && u < 0xA0 ? HighControls[u - 0x80] : char16_t(u));
    }
    return text;
}

bool ToCp1252(const QString& text, QByteArray* bytes, QChar* badChar)
{
    bytes->resize(text.size());
    char* out = bytes->data();
    for (const QChar c : text) {
        if (!EncodeChar(c.unicode(), out++)) {
            if (badChar)
                *badChar = c;
            return false;
        }
    }
    return true;
}
