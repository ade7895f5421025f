// Time per recorded row: DataFile::AppendRow on a 16-channel data file beside a bare sqlite3 loop
// that inserts the same rows with the same durability (rollback journal, synchronous=FULL, one
// transaction per row). The two alternate in blocks so both see the same disk conditions.
//
//   bench_record [--rows N] [--folder DIR]     (default 10000 rows, a fresh folder in the current one)
#include "datafile/data_file.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Channels = 16;
constexpr int Block = 500;

DataRow MakeRow(int i)
{
    DataRow row{QDate(2026, 12, 7), QTime(0, 0).addSecs(i % 86400), {}, {}};
    for (int n = 1; n <= Channels; ++n) {
        row.chan.append(std::round((n * 10.0 + i * 0.37) * 100) / 100);
        row.unit.append(n % 2 ? QStringLiteral("V") : QStringLiteral("mA"));
    }
    return row;
}

class BareLoop {
  public:
    explicit BareLoop(const QString& path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            Die("open");
        if (sqlite3_exec(m_db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;", nullptr, nullptr,
                         nullptr) != SQLITE_OK)
            Die("pragma");
        QStringList names;
        for (const QString& c : DataRecordColumns(Channels))
            names.append(QLatin1Char('"') + c + QLatin1Char('"'));
        const QString sql = QStringLiteral("INSERT INTO DataRecord (%1) VALUES (%2)")
                                .arg(names.join(QLatin1Char(',')),
                                     QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(',')));
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &m_insert, nullptr) != SQLITE_OK)
            Die("prepare");
    }
    ~BareLoop()
    {
        sqlite3_finalize(m_insert);
        sqlite3_close(m_db);
    }
    void Insert(const QByteArray& date, const QByteArray& time, const DataRow& row,
                const std::vector<QByteArray>& units)
    {
        sqlite3_reset(m_insert);
        sqlite3_bind_text(m_insert, 1, date.constData(), int(date.size()), SQLITE_STATIC);
        sqlite3_bind_text(m_insert, 2, time.constData(), int(time.size()), SQLITE_STATIC);
        for (int i = 0; i < Channels; ++i) {
            sqlite3_bind_double(m_insert, 3 + 2 * i, row.chan[i]);
            sqlite3_bind_text(m_insert, 4 + 2 * i, units[size_t(i)].constData(), int(units[size_t(i)].size()),
                              SQLITE_STATIC);
        }
        if (sqlite3_step(m_insert) != SQLITE_DONE)
            Die("insert");
    }

  private:
    [[noreturn]] void Die(const char* what)
    {
        std::fprintf(stderr, "bare loop %s: %s\n", what, sqlite3_errmsg(m_db));
        std::exit(1);
    }
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_insert = nullptr;
};

struct Figures {
    double median, p99, mean;
};

Figures Summarize(std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us)
        sum += v;
    const auto at = [&](double q) { return us[size_t(std::ceil(q * double(us.size()))) - 1]; };
    return {at(0.5), at(0.99), sum / double(us.size())};
}

double Micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("rows"), QStringLiteral("rows per writer"), QStringLiteral("N"),
                      QStringLiteral("10000")});
    parser.addOption({QStringLiteral("folder"), QStringLiteral("where the files go"), QStringLiteral("DIR"),
                      QStringLiteral(".")});
    parser.process(app);
    const int rows = parser.value(QStringLiteral("rows")).toInt();
    QTemporaryDir dir(parser.value(QStringLiteral("folder")) + QStringLiteral("/bench-record-XXXXXX"));
    if (rows <= 0 || !dir.isValid()) {
        std::fprintf(stderr, "need a positive row count and a writable folder\n");
        return 1;
    }

    const QString ours = dir.filePath(QStringLiteral("datafile.mdb"));
    const QString bare = dir.filePath(QStringLiteral("bare.mdb"));
    QString error;
    DataFile data;
    if (!CreateDataFile(ours, Channels, &error) || !CreateDataFile(bare, Channels, &error) ||
        !data.Bind(ours, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    BareLoop loop(bare);

    std::vector<double> oursUs, bareUs;
    oursUs.reserve(size_t(rows));
    bareUs.reserve(size_t(rows));
    for (int start = 0; start < rows; start += Block) {
        const int end = std::min(rows, start + Block);
        for (int i = start; i < end; ++i) {
            const DataRow row = MakeRow(i);
            const auto t0 = Clock::now();
            if (!data.AppendRow(row, &error)) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                return 1;
            }
            oursUs.push_back(Micros(Clock::now() - t0));
        }
        for (int i = start; i < end; ++i) {
            const DataRow row = MakeRow(i);
            std::vector<QByteArray> units;
            for (const QString& u : row.unit)
                units.push_back(u.toUtf8());
            const QByteArray date = row.date.toString(Qt::ISODate).toUtf8();
            const QByteArray time = row.time.toString(QStringLiteral("HH:mm:ss")).toUtf8();
            const auto t0 = Clock::now();
            loop.Insert(date, time, row, units);
            bareUs.push_back(Micros(Clock::now() - t0));
        }
    }

    const Figures a = Summarize(oursUs);
    const Figures b = Summarize(bareUs);
    std::printf("rows per writer: %d, 16 channels, rollback journal, synchronous=FULL, one transaction per row\n",
                rows);
    std::printf("%-22s %10s %10s %10s   (microseconds per row)\n", "", "median", "p99", "mean");
    std::printf("%-22s %10.1f %10.1f %10.1f\n", "DataFile::AppendRow", a.median, a.p99, a.mean);
    std::printf("%-22s %10.1f %10.1f %10.1f\n", "bare sqlite3 loop", b.median, b.p99, b.mean);
    std::printf("%-22s %10.2f %10.2f %10.2f\n", "ratio", a.median / b.median, a.p99 / b.p99, a.mean / b.mean);
    return 0;
}
