#include "datafile/data_file.h"
#include "datafile/event_log.h"
#include "query/events_sheet.h"
#include "spoilt_files.h"
#include "sqlite_cli.h"
#include "test_registry.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QDateTime Morning(QDate(2026, 12, 7), QTime(10, 0, 5, 250));

DataRow Row()
{
    return {QDate(2026, 12, 7), QTime(10, 0, 0), QList<double>(8, 1.5), QStringList(8, QStringLiteral("V"))};
}

} // namespace

class TestEventLog : public QObject {
    Q_OBJECT
  private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("run%1.mdb").arg(++m_files));
        QString error;
        QVERIFY2(CreateDataFile(m_path, 8, &error), qPrintable(error));
    }

    // The table comes with the first event, with exactly its columns; the rows' table stays as it
    // was, and another process sees the event as soon as the call returns.
    // Rows may still go in while the event log's pages are spoilt: the file is damaged all the same.
    void spoiltEventLogMarksTheFileDamaged()
    {
        DataFile data;
        QString error;
        QVERIFY2(data.Bind(m_path, &error), qPrintable(error));
        QVERIFY(AppendEvent(data, LoggedEvent::At(Morning, EventKind::Note, "first")));
        const int root =
            SqliteCli(m_path, QStringLiteral("SELECT rootpage FROM sqlite_schema WHERE name = 'EventLog'")).value(0).toInt();
        QVERIFY(root > 2);
        QVERIFY(SpoilDataFile(m_path, root));
        QVERIFY(data.AppendRow(Row()));
        QVERIFY(!data.IsDamaged());
        QVERIFY(!AppendEvent(data, LoggedEvent::At(Morning, EventKind::Note, "second"), &error));
        QVERIFY2(data.IsDamaged(), qPrintable(error));
        QCOMPARE(data.DamageText(), error);
        QVERIFY(data.AppendRow(Row())); // the damage is not undone by a row that still goes in
        QVERIFY(data.IsDamaged());
    }

    void firstEventMakesTheTable()
    {
        const QStringList recordSchema =
            SqliteCli(m_path, QStringLiteral("SELECT sql FROM sqlite_schema WHERE name = 'DataRecord'"));
        DataFile data;
        QString error;
        QVERIFY2(data.Bind(m_path, &error), qPrintable(error));
        QVERIFY(data.AppendRow(Row()));
        QCOMPARE(
            SqliteCli(m_path, QStringLiteral("SELECT count(*) FROM sqlite_schema WHERE name = 'EventLog'")),
            QStringList{"0"});

        bool created = false;
        QVERIFY2(AppendEvent(data, LoggedEvent::At(Morning, EventKind::High, "over 10", 3, 12.35), &error,
                             &created),
                 qPrintable(error));
        QVERIFY(created);
        QVERIFY(AppendEvent(data, LoggedEvent::At(Morning.addSecs(1), EventKind::Note, "a, \"quoted\" note"),
                            &error, &created));
        QVERIFY(!created);

        QCOMPARE(
            SqliteCli(m_path, QStringLiteral("SELECT name, type, pk FROM pragma_table_info('EventLog')")),
            (QStringList{"id|INTEGER|1", "date|TEXT|0", "time|TEXT|0", "utc|TEXT|0", "kind|TEXT|0",
                         "channel|INTEGER|0", "value|REAL|0", "text|TEXT|0"}));
        const QString utc = Morning.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
        QCOMPARE(SqliteCli(m_path, QStringLiteral("SELECT id, date, time, utc, kind, quote(channel), "
                                                  "quote(value), text FROM EventLog ORDER BY id")),
                 (QStringList{QStringLiteral("1|2026-12-07|10:00:05|%1|high|3|12.35|over 10").arg(utc),
                              QStringLiteral("2|2026-12-07|10:00:06|%1|note|NULL|NULL|a, \"quoted\" note")
                                  .arg(Morning.addSecs(1).toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ"))}));
        QCOMPARE(SqliteCli(m_path, QStringLiteral("SELECT sql FROM sqlite_schema WHERE name = 'DataRecord'")),
                 recordSchema);
        QCOMPARE(SqliteRowCount(m_path), 1);

        QList<LoggedEvent> events;
        QVERIFY2(ReadEvents(m_path, {}, &events, &error), qPrintable(error));
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[1].channel, std::optional<int>(3));
        QCOMPARE(events[1].value, std::optional<double>(12.35));
        QCOMPARE(events[1].utc, Morning.toUTC());
        QCOMPARE(events[0].channel, std::nullopt);
        QCOMPARE(EventsCsv(events).split('\n')[1],
                 QStringLiteral("2026-12-07,10:00:06,%1,note,,,\"a, \"\"quoted\"\" note\"")
                     .arg(events[0].UtcText()));
    }

    void readsByDateAndKindNewestFirst_data()
    {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QStringList>("kinds");
        QTest::addColumn<QStringList>("expected"); // texts, newest first
        QTest::newRow("all") << QDate() << QDate() << QStringList() << QStringList{"d", "c", "b", "a"};
        QTest::newRow("one day") << QDate(2026, 12, 7) << QDate(2026, 12, 7) << QStringList()
                                 << QStringList{"c", "b"};
        QTest::newRow("open start") << QDate() << QDate(2026, 12, 7) << QStringList()
                                    << QStringList{"c", "b", "a"};
        QTest::newRow("kinds") << QDate() << QDate() << QStringList{"note", "stop"}
                               << QStringList{"d", "c", "b"};
        QTest::newRow("none") << QDate(2027, 1, 1) << QDate(2027, 1, 2) << QStringList() << QStringList();
    }
    void readsByDateAndKindNewestFirst()
    {
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QStringList, kinds);
        QFETCH(QStringList, expected);
        DataFile data;
        QVERIFY(data.Bind(m_path));
        // Written out of order: an event kept back while the disk was full is written late.
        const QList<std::tuple<QDateTime, QString, QString>> written{
            {Morning.addDays(-1), EventKind::Start, "a"},
            {Morning.addSecs(60), EventKind::Note, "c"},
            {Morning, EventKind::Stop, "b"},
            {Morning.addDays(1), EventKind::Note, "d"}};
        for (const auto& [when, kind, text] : written)
            QVERIFY(AppendEvent(data, LoggedEvent::At(when, kind, text)));
        QList<LoggedEvent> events;
        QString error;
        QVERIFY2(ReadEvents(m_path, {from, to, kinds}, &events, &error), qPrintable(error));
        QStringList texts;
        for (const LoggedEvent& e : events)
            texts << e.text;
        QCOMPARE(texts, expected);
    }

    void fileWithoutEventsReadsEmpty()
    {
        QList<LoggedEvent> events{LoggedEvent{}};
        QString error;
        QVERIFY2(ReadEvents(m_path, {}, &events, &error), qPrintable(error));
        QVERIFY(events.isEmpty());
        QVERIFY(!ReadEvents(m_dir.filePath("absent.mdb"), {}, &events, &error));
        QVERIFY(error.contains("does not exist"));
    }

    // Another tool changed the table: no event is written or read, the file is not altered, the
    // message says what is wrong, and rows are still recorded.
    void mangledTableIsReportedAndLeftAlone_data()
    {
        QTest::addColumn<QString>("mangle");
        QTest::addColumn<QString>("expected");
        QTest::newRow("column dropped") << "CREATE TABLE EventLog (id INTEGER PRIMARY KEY, date TEXT, time "
                                           "TEXT, utc TEXT, channel INTEGER, "
                                           "value REAL, text TEXT)"
                                        << "lacks the column kind";
        QTest::newRow("columns renamed")
            << "CREATE TABLE EventLog (id INTEGER PRIMARY KEY, day TEXT, clock TEXT, utc TEXT, kind TEXT, "
               "channel INTEGER, value REAL, text TEXT)"
            << "lacks the columns date, time";
        QTest::newRow("id not the key")
            << "CREATE TABLE EventLog (id TEXT, date TEXT, time TEXT, utc TEXT, kind TEXT, channel INTEGER, "
               "value REAL, text TEXT)"
            << "id is not the primary key";
        QTest::newRow("replaced by a view") << "CREATE VIEW EventLog AS SELECT 1 AS x"
                                            << "lacks the columns id";
    }
    void mangledTableIsReportedAndLeftAlone()
    {
        QFETCH(QString, mangle);
        QFETCH(QString, expected);
        SqliteCli(m_path, mangle);
        const QStringList before = SqliteCli(m_path, QStringLiteral("SELECT sql FROM sqlite_schema"));

        DataFile data;
        QString error;
        QVERIFY2(data.Bind(m_path, &error), qPrintable(error));
        QVERIFY(!AppendEvent(data, LoggedEvent::At(Morning, EventKind::Start), &error));
        QVERIFY2(error.contains(expected) && error.contains("not an event log") && error.contains(m_path) &&
                     error.contains("rows are not affected"),
                 qPrintable(error));
        QVERIFY2(data.AppendRow(Row(), &error), qPrintable(error));
        QCOMPARE(SqliteRowCount(m_path), 1);
        QCOMPARE(SqliteCli(m_path, QStringLiteral("SELECT sql FROM sqlite_schema")), before);

        QList<LoggedEvent> events;
        QVERIFY(!ReadEvents(m_path, {}, &events, &error));
        QVERIFY2(error.contains(expected), qPrintable(error));
    }

    // Dropped while recording: the next event makes it again and says so.
    void droppedTableIsMadeAgain()
    {
        DataFile data;
        QVERIFY(data.Bind(m_path));
        QVERIFY(AppendEvent(data, LoggedEvent::At(Morning, EventKind::Start)));
        SqliteCli(m_path, QStringLiteral("DROP TABLE EventLog"));
        bool created = false;
        QString error;
        QVERIFY2(AppendEvent(data, LoggedEvent::At(Morning, EventKind::Note, "x"), &error, &created),
                 qPrintable(error));
        QVERIFY(created);
        QCOMPARE(SqliteCli(m_path, QStringLiteral("SELECT kind FROM EventLog")), QStringList{"note"});
        QVERIFY(
            !AppendEvent(*std::make_unique<DataFile>(), LoggedEvent::At(Morning, EventKind::Note), &error));
    }

  private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_files = 0;
};

VARNIK_TEST_CLASS(TestEventLog)
#include "test_event_log.moc"
