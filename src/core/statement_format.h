#pragma once
// The comma-and-quote statement format of the text configuration files (unit2.dat, default.txt,
// dispchan.dat), in Windows-1252.
//
// Writing: one statement a line, values separated by a comma without blanks, text in double
// quotes, numbers as plain decimal, each line ended by CR LF.
// Reading: fields are separated by commas or line ends, and how they are spread over lines does
// not matter (blank lines between statements are skipped). A field that starts with a double
// quote runs to the next double quote, line ends included, and whatever follows it up to the next
// separator is ignored; an unquoted field loses its leading and trailing blanks.
//
// Used by config_files.cpp. Errors are texts that start with "line N: "; the caller adds the file.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <limits>

class StatementWriter {
  public:
    // Appends a quoted text value. Fails, appending nothing, for a text the format cannot hold: one
    // with a double quote or with a character outside Windows-1252.
    bool addText(const QString& value, QString* error);
    void addNumber(qint64 value);
    void endStatement();
    const QByteArray& bytes() const { return m_bytes; }

  private:
    void separate();

    QByteArray m_bytes;
    bool m_lineStart = true;
};

class StatementReader {
  public:
    explicit StatementReader(QByteArray bytes) : m_bytes(std::move(bytes)) {}

    // True when nothing but blanks and line ends is left.
    bool atEnd() const;

    // The next field as text. Fails at the end of the data.
    bool readText(QString* value, QString* error);

    // The next field as a number rounded to an integer, halves to even. Fails at the end of the
    // data, for a field that is not a decimal number, and for a value outside the range of Int.
    template <typename Int> bool readInteger(Int* value, QString* error)
    {
        qint64 wide = 0;
        if (!readNumber(std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max(), &wide, error))
            return false;
        *value = static_cast<Int>(wide);
        return true;
    }

    // "line N: what", N being the line of the field read last: for a value the caller refuses.
    QString lineError(const QString& what) const;

    // True when the field read last was quoted and text other than blanks followed its closing
    // quote (`"Da"ta1.mdb"`): that text is dropped from the value, so a caller that cannot lose
    // it refuses the field. rawField() is the field as written.
    bool textAfterQuote() const { return m_textAfterQuote; }
    QString rawField() const;

  private:
    bool readNumber(qint64 min, qint64 max, qint64* value, QString* error);
    bool readField(QByteArray* field, QString* error);
    void skipBlanks();
    bool atLineEnd() const;
    void takeLineEnd();

    QByteArray m_bytes;
    qsizetype m_pos = 0;
    int m_line = 1;
    int m_fieldLine = 1;
    bool m_afterLineEnd = true;
    bool m_textAfterQuote = false;
    qsizetype m_fieldStart = 0;
    qsizetype m_fieldEnd = 0;
};
