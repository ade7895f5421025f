#include "datafile/data_file.h"
#include "sqlite_cli.h"
#include "test_registry.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

DataRow Row(QTime time, QList<double> chan, QStringList unit)
{
    return {QDate(2026, 12, 7), time, std::move(chan), std::move(unit)};
}

} // namespace

class TestDataFile : public QObject {
    Q_OBJECT
  private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void fileExists()
    {
        const QString file = m_dir.filePath(QStringLiteral("present.mdb"));
        WriteAll(file, "x");
        QVERIFY(FileExists(file));
        QVERIFY(!FileExists(m_dir.path()));
        QVERIFY(!FileExists(m_dir.filePath(QStringLiteral("absent.mdb"))));
        // Once answered true, which made the create dialog adopt a file that was not there.
        QVERIFY(!FileExists(m_dir.filePath(QStringLiteral("no-folder/run1.mdb"))));
        QVERIFY(!FileExists(QString()));
    }

    void createsTheLayout_data()
    {
        QTest::addColumn<int>("channels");
        QTest::newRow("8") << 8;
        QTest::newRow("12") << 12;
        QTest::newRow("16") << 16;
    }
    void createsTheLayout()
    {
        QFETCH(int, channels);
        const QString path = m_dir.filePath(QStringLiteral("layout%1.mdb").arg(channels));
        QString error;
        QVERIFY2(CreateDataFile(path, channels, &error), qPrintable(error));

        QStringList expected{QStringLiteral("date|TEXT"), QStringLiteral("time|TEXT")};
        for (int n = 1; n <= channels; ++n)
            expected << QStringLiteral("chan %1|REAL").arg(n) << QStringLiteral("unit %1|VARCHAR(10)").arg(n);
        QCOMPARE(SqliteCli(path, QStringLiteral("SELECT name, type FROM pragma_table_info('DataRecord')")),
                 expected);
        QCOMPARE(SqliteCli(path, QStringLiteral("SELECT count(*) FROM sqlite_schema")), QStringList{"1"});

        QCOMPARE(SqliteCli(path, QStringLiteral("SELECT name FROM pragma_table_info('DataRecord')")),
                 DataRecordColumns(channels));
        QCOMPARE(CountTableFields(path, QStringLiteral("Datarecord")), int16_t(2 + 2 * channels));
        DataFile data;
        QVERIFY2(data.Bind(path, &error), qPrintable(error));
        QCOMPARE(data.FieldCount(), int16_t(2 * channels));
        QCOMPARE(data.DatabaseName(), path);
    }

    void createRefuses_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("channels");
        QTest::newRow("missing folder") << "no-folder/run1.mdb" << 8;
        QTest::newRow("channel count") << "run10.mdb" << 10;
    }
    void createRefuses()
    {
        QFETCH(QString, name);
        QFETCH(int, channels);
        const QString path = m_dir.filePath(name);
        QString error;
        QVERIFY(!CreateDataFile(path, channels, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFileInfo::exists(path));
    }

    void createNeverOverwrites()
    {
        const QString path = m_dir.filePath(QStringLiteral("kept.mdb"));
        WriteAll(path, "someone's file");
        QString error;
        QVERIFY(!CreateDataFile(path, 8, &error));
        QVERIFY(error.contains(QDir::toNativeSeparators(path)));
        QCOMPARE(ReadAll(path), QByteArray("someone's file"));
    }

    // A file that is not ours is reported by name and left exactly as it was, side files included.
    void foreignFilesUntouched_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("random bytes") << "random";
        QTest::newRow("SQLite without DataRecord") << "other table";
        QTest::newRow("empty file") << "empty";
    }
    void foreignFilesUntouched()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("foreign.mdb"));
        if (kind == QLatin1String("random")) {
            QByteArray bytes(8192, '\0');
            QRandomGenerator gen(350);
            gen.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
            WriteAll(path, bytes);
        } else if (kind == QLatin1String("other table")) {
            SqliteCli(path,
                      QStringLiteral("CREATE TABLE Readings(x REAL); INSERT INTO Readings VALUES (1.5);"));
        } else {
            WriteAll(path, QByteArray());
        }
        const QByteArray before = ReadAll(path);

        QString error;
        QCOMPARE(CountTableFields(path, QStringLiteral("DataRecord"), &error), int16_t(-1));
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
        error.clear();
        DataFile data;
        QVERIFY(!data.Bind(path, &error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
        QVERIFY(!data.IsBound());
        QCOMPARE(data.FieldCount(), int16_t(0));

        QCOMPARE(ReadAll(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"foreign.mdb"});
    }

    void missingFileIsNotCreated()
    {
        const QString path = m_dir.filePath(QStringLiteral("missing.mdb"));
        QString error;
        QCOMPARE(CountTableFields(path, QStringLiteral("DataRecord"), &error), int16_t(-1));
        QVERIFY(error.contains(QDir::toNativeSeparators(path)));
        DataFile data;
        QVERIFY(!data.Bind(path, &error));
        QVERIFY(!QFileInfo::exists(path));
    }

    void rowsReadBackIndependently()
    {
        const QString path = m_dir.filePath(QStringLiteral("rows.mdb"));
        QVERIFY(CreateDataFile(path, 8));
        DataFile data;
        QString error;
        QVERIFY2(data.Bind(path, &error), qPrintable(error));
        QVERIFY2(data.AppendRow(Row(QTime(9, 5, 7), {12.35, -0.5}, {"V", ""}), &error), qPrintable(error));
        QVERIFY2(data.AppendRow(Row(QTime(23, 59, 59), {7.0}, {"0123456789AB"}), &error), qPrintable(error));

        QCOMPARE(
            SqliteCli(path, QStringLiteral("SELECT \"date\", \"time\", \"chan 1\", typeof(\"chan 1\"), "
                                           "'[' || \"unit 1\" || ']', \"chan 2\", '[' || \"unit 2\" || ']', "
                                           "typeof(\"chan 3\") FROM DataRecord")),
            (QStringList{"2026-12-07|09:05:07|12.35|real|[V]|-0.5|[    ]|null",
                         "2026-12-07|23:59:59|7.0|real|[0123456789]|||null"}));
        QCOMPARE(SqliteCli(path, QStringLiteral("PRAGMA journal_mode")), QStringList{"delete"});

        // The file alone holds every appended row while it is still bound: a copy taken now
        // (a user backing up during a run) misses nothing.
        const QString copy = path + QStringLiteral(".copy");
        QVERIFY(QFile::copy(path, copy));
        QCOMPARE(SqliteRowCount(copy), 2);
    }

    void refusedRowsWriteNothing()
    {
        const QString path = m_dir.filePath(QStringLiteral("refused.mdb"));
        QVERIFY(CreateDataFile(path, 8));
        DataFile data;
        QString error;
        QVERIFY(!data.AppendRow(Row(QTime(10, 0), {1}, {"V"}), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(data.Bind(path));

        QList<double> nine(9, 1.0);
        QStringList nineUnits(9, QStringLiteral("V"));
        error.clear();
        QVERIFY(!data.AppendRow(Row(QTime(10, 0), nine, nineUnits), &error));
        QVERIFY2(error.contains(QStringLiteral("chan 9")), qPrintable(error));
        QVERIFY(!data.AppendRow(Row(QTime(10, 0), {1, 2}, {"V"})));
        QVERIFY(!data.AppendRow(Row(QTime(), {1}, {"V"})));
        QCOMPARE(SqliteRowCount(path), 0);
        QVERIFY(data.AppendRow(Row(QTime(10, 0), {1}, {"V"})));
        QCOMPARE(SqliteRowCount(path), 1);
    }

    void failedBindKeepsThePreviousFile()
    {
        const QString good = m_dir.filePath(QStringLiteral("good.mdb"));
        const QString other = m_dir.filePath(QStringLiteral("other.mdb"));
        QVERIFY(CreateDataFile(good, 12));
        SqliteCli(other, QStringLiteral("CREATE TABLE Readings(x REAL)"));
        DataFile data;
        QVERIFY(data.Bind(good));
        QVERIFY(!data.Bind(other));
        QVERIFY(!data.Bind(m_dir.filePath(QStringLiteral("absent.mdb"))));
        QVERIFY(data.IsBound());
        QCOMPARE(data.DatabaseName(), good);
        QCOMPARE(data.FieldCount(), int16_t(24));
        QVERIFY(data.AppendRow(Row(QTime(10, 0), {1}, {"V"})));
        QCOMPARE(SqliteRowCount(good), 1);
    }

    void connectionsAreOwnAndReleased()
    {
        const QString a = m_dir.filePath(QStringLiteral("a.mdb"));
        const QString b = m_dir.filePath(QStringLiteral("b.mdb"));
        QVERIFY(CreateDataFile(a, 8));
        QVERIFY(CreateDataFile(b, 16));
        const QStringList before = QSqlDatabase::connectionNames();
        {
            DataFile first;
            QVERIFY(first.Bind(a));
            {
                DataFile second;
                QVERIFY(second.Bind(b));
                QVERIFY(second.AppendRow(Row(QTime(10, 0), {2}, {"A"})));
            }
            QVERIFY(first.AppendRow(Row(QTime(10, 0), {1}, {"V"})));
            first.Unbind();
            QVERIFY(!first.IsBound());
            QCOMPARE(first.FieldCount(), int16_t(0));
            QVERIFY(!first.AppendRow(Row(QTime(10, 0), {1}, {"V"})));
        }
        QCOMPARE(QSqlDatabase::connectionNames(), before);
        QCOMPARE(SqliteRowCount(a), 1);
        QCOMPARE(SqliteRowCount(b), 1);
        QVERIFY(!QFileInfo::exists(a + QStringLiteral("-journal")));
    }

  private:
    QTemporaryDir m_dir;
};

VARNIK_TEST_CLASS(TestDataFile)
#include "test_data_file.moc"
