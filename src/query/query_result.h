#pragma once
// The result of a data file query, kept compact: one typed column vector per field (a date as its
// day number, a time as seconds of the day, a reading as a double, a unit as an index into a pool
// of the distinct unit texts), so a full file of 65,535 rows of 16 channels fits in a few
// megabytes. The grid, the report, the chart, the workbook and the CSV file all read this object.
//
// RunQuery opens the data file read-only and never writes to it: a "time" value with a date part
// or a fraction of a second is shown and used as hh:mm:ss, a value stored as a fraction of a day
// is read as that time of day, and a read-only file can be queried. There is no limit on the
// number of records beyond memory.
#include <QDate>
#include <QStringList>
#include <QTime>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

class QueryResult {
  public:
    enum class Kind { Date, Time, Reading, Text };
    static constexpr int32_t NullInt = INT32_MIN; // a null date, time or text in the column vectors

    int rowCount() const { return m_rows; }
    int columnCount() const { return int(m_columns.size()); }
    const QStringList& fieldNames() const { return m_names; }
    Kind kind(int column) const { return m_columns[size_t(column)].kind; }
    // The channel of a "chan N" or "unit N" column, else 0.
    int channel(int column) const { return m_columns[size_t(column)].channel; }
    // Index of a field by name (without regard to case), -1 when the result has none.
    int columnOf(const QString& name) const;

    bool isNull(int row, int column) const;
    QDate date(int row, int column) const;  // Kind::Date
    int seconds(int row, int column) const; // Kind::Time, seconds since midnight
    QTime time(int row, int column) const { return QTime(0, 0).addSecs(seconds(row, column)); }
    double reading(int row, int column) const { return m_columns[size_t(column)].reals[size_t(row)]; }
    const QString& text(int row, int column) const; // Kind::Text; an empty text for null
    // The distinct texts of the result, and where a Kind::Text cell's text stands among them
    // (-1 for null): writers convert each distinct text once.
    const QStringList& texts() const { return m_pool; }
    int textIndex(int row, int column) const
    {
        const int32_t index = m_columns[size_t(column)].ints[size_t(row)];
        return index == NullInt ? -1 : index;
    }

    // The field as text: dates as dateFormat, times hh:mm:ss, readings as PlainNumber, null as an
    // empty text.
    QString display(int row, int column, const QString& dateFormat) const;

    // Matched records left out because their date or time cannot be read ("25:00:00"), and the
    // first such cell as `time "25:00:00"`.
    int skippedRows() const { return m_skipped; }
    const QString& firstSkipped() const { return m_firstSkipped; }

    // Keeps the rows whose keep[row] is true, in their order (keep has rowCount() entries).
    void keepRows(const std::vector<bool>& keep);
    // Appends the rows of a result of the same fields (another file of a rotated series); false,
    // and nothing appended, when the fields differ. An empty result takes the other's fields.
    bool append(const QueryResult& other);

  private:
    friend class QueryReader;
    struct Column {
        Kind kind = Kind::Text;
        int channel = 0;
        std::vector<int32_t> ints; // day numbers, seconds, or text pool indexes; NullInt for null
        std::vector<double> reals; // readings; NaN for null (SQLite never stores NaN)
    };

    QStringList m_names;
    std::vector<Column> m_columns;
    QStringList m_pool;
    int m_rows = 0;
    int m_skipped = 0;
    QString m_firstSkipped;
};

// A reading in plain decimals, never with an exponent, with every digit needed to read back the
// same double (-0.0004 -> "-0.0004", 1e-07 -> "0.0000001"); an empty text when not finite.
QString PlainNumber(double value);

// "3 records were skipped: their date or time cannot be read (the first: time "25:00:00")."; an
// empty text when none was skipped. The query window shows it with the result, meter-query on
// standard error.
QString SkippedText(const QueryResult& result);

enum class QueryStatus { Done, NoRecord, Failed };

extern const QString NoRecordMessage; // what a query that matched nothing says

// Runs a statement in the query windows' form (TranslateStatement turns it into SQLite's) on the
// data file at databasePath, opened read-only. Done fills *result. NoRecord (nothing matched, or
// nothing readable: the error then carries SkippedText) and Failed leave *result untouched and
// set *error: the engine's own description for a bad statement, a column the file lacks or a file
// that is not a database; a text naming the file when it is missing or in use by another program
// (held locked beyond a short wait). Text, a BLOB or a value that is not finite in a reading
// column reads as null.
QueryStatus RunQuery(const QString& databasePath, const QString& statement, QueryResult* result,
                     QString* error);
// The same, given up (Failed, *error CancelledMessage) soon after stop() turns true; stop is asked
// from the reading loop, every few thousand engine steps.
QueryStatus RunQuery(const QString& databasePath, const QString& statement, QueryResult* result,
                     QString* error, const std::function<bool()>& stop);
extern const QString CancelledMessage; // the query was given up

// True when another program holds the data file locked so that it cannot be read, after the same
// short wait as a query; *error then names the file and says it is in use.
bool DataFileInUse(const QString& databasePath, QString* error);

// Count, minimum, maximum and mean of one reading column, without nulls and without the meter's
// invalid-reading marker (999999).
struct ColumnStatistics {
    int count = 0;
    double minimum = 0;
    double maximum = 0;
    double mean = 0;
};
ColumnStatistics Statistics(const QueryResult& result, int column);
// The same for the rows whose unit column `unitColumn` says `unit` (blanks trimmed): a meter that
// changed function (V to Ohm) is counted per unit, never volts and ohms together.
ColumnStatistics Statistics(const QueryResult& result, int column, int unitColumn, const QString& unit);
// The units of a reading column's valid readings, in the order they first appear.
QStringList ReadingUnits(const QueryResult& result, int column, int unitColumn);
