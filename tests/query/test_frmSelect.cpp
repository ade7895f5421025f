#include "mainwindow/frmMain.h"
#include "core/shared_state.h"
#include "fake_host.h"
#include "query/frmSelect.h"
#include "query/frmSelect_16.h"
#include "query/query_chart_ui.h"
#include "query/query_statement.h"
#include "query/report_writer.h"
#include "query_fixture.h"
#include "test_registry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QChartView>
#include <QLayout>
#include <QLegend>
#include <QSet>
#include <QTimer>
#include <cmath>
#include <ctime>
#include <memory>

namespace {
// The local time zone of the process for the life of the object.
struct LocalZone {
    const QByteArray old = qgetenv("TZ");
    explicit LocalZone(const char* zone) { Set(zone); }
    ~LocalZone() { Set(old.isEmpty() ? nullptr : old.constData()); }
    static void Set(const char* zone)
    {
        zone ? qputenv("TZ", zone) : qunsetenv("TZ");
        tzset();
    }
};

// How far apart two colours look (the "redmean" weighting of RGB), 0 to about 765.
double ColourDistance(const QColor& a, const QColor& b)
{
    const double r = (a.red() + b.red()) / 2.0;
    const int dr = a.red() - b.red(), dg = a.green() - b.green(), db = a.blue() - b.blue();
    return std::sqrt((2 + r / 256) * dr * dr + 4 * dg * dg + (2 + (255 - r) / 256) * db * db);
}

// A desktop where nothing opens a file.
class NoViewerHost : public FakeHost {
  public:
    bool shellOpen(const QString& path) override
    {
        opened.append(path);
        return false;
    }
};
} // namespace

class TestFrmSelect : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeHost> m_host;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmMain> m_main;

    // The program runs on data.mdb (8 channels, two days); the scan timer runs when `scanning`.
    void Start(bool scanning = false, bool viewer = true)
    {
        m_host.reset();
        m_host = viewer ? std::make_unique<FakeHost>() : std::make_unique<NoViewerHost>();
        m_dir = std::make_unique<QTemporaryDir>();
        Shared = SharedState{};
        Shared.AppPath = m_dir->path();
        QVERIFY(QDir(m_dir->path()).mkpath("data"));
        Shared.DataFileName = "data.mdb";
        MakeDataFile(DataPath("data.mdb"), 8,
                     {"'2010-04-01','08:30:05',23.5,'C',NULL,NULL,101.25,'%RH'",
                      "'2010-04-01','17:30:00',24,'C',NULL,NULL,99,'%RH'",
                      "'2010-04-02','09:00:00',25,'C',NULL,NULL,98.5,'%RH'"},
                     3);
        m_main = std::make_unique<frmMain>();
        if (scanning)
            m_main->Timer1->start();
        m_host->shown.clear();
    }

    template <class Window> std::unique_ptr<Window> Open()
    {
        auto w = std::make_unique<Window>();
        w->show();
        return w;
    }

    static void Ask(QueryWindow* w, const QList<int>& channels, const QString& from = "2010-04-01",
                    const QString& to = "2010-04-02")
    {
        for (int i = 0; i < w->Check2.size(); ++i)
            w->Check2[i]->setChecked(channels.contains(i + 1));
        w->Text1[0]->setText(from);
        w->Text1[1]->setText(to);
        QTest::mouseClick(w->Command1, Qt::LeftButton);
    }

  private slots:
    void cleanup()
    {
        m_main.reset();
        m_dir.reset();
        m_host.reset();
    }

    void loadsWithCaptionsAndStopsTheScanTimer()
    {
        Start(true);
        {
            auto w = Open<frmSelect>();
            QCOMPARE(w->windowTitle(), QString("Find Data"));
            QCOMPARE(w->Check2.size(), 8);
            QCOMPARE(w->findChild<QCheckBox*>("Check2(7)")->text(), QString("Chan. 8"));
            QCOMPARE(w->Label6->text(), QDir::toNativeSeparators(DataPath("data.mdb")));
            QCOMPARE(ReadDate(w->Text1[0]->text()), QDate(2026, 12, 7));
            QVERIFY(!w->cmdExportToExcel->isEnabled());
            QVERIFY(!m_main->Timer1->isActive());
            QVERIFY(!w->MaskEd1->isEnabled());
            QTest::mouseClick(w->Check1, Qt::LeftButton);
            QVERIFY(w->MaskEd1->isEnabled() && w->MaskEd2->isEnabled());
            QTest::mouseClick(w->Command6, Qt::LeftButton);
            QVERIFY(m_main->Timer1->isActive());
        }
        m_main->Timer1->stop();
        auto again = Open<frmSelect>();
        again->close();
        QVERIFY(!m_main->Timer1->isActive());
    }

    void selectDatabase_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("shown");
        QTest::newRow("chosen") << QStringList{"/x/other.mdb"} << "/x/other.mdb";
        QTest::newRow("chosen, then cancelled") << QStringList{"/x/other.mdb", ""} << "/x/other.mdb";
        QTest::newRow("cancelled") << QStringList{""} << "data.mdb";
    }
    void selectDatabase()
    {
        QFETCH(QStringList, answers);
        QFETCH(QString, shown);
        Start();
        auto w = Open<frmSelect>();
        QStringList filters;
        w->dlg1 = [&](const QString& filter) {
            filters << filter;
            return answers.takeFirst();
        };
        while (!answers.isEmpty())
            QTest::mouseClick(w->Command7, Qt::LeftButton);
        QVERIFY(w->Label6->text().endsWith(QDir::toNativeSeparators(shown)));
        QCOMPARE(filters.first(), QString(" (*.mdb)|*.mdb"));
    }

    void queryFillsGridCountAndStatistics()
    {
        Start();
        auto w = Open<frmSelect>();
        w->resize(1200, 800);
        Ask(w.get(), {1});
        QVERIFY2(m_host->shown.isEmpty(), qPrintable(m_host->texts().join('|')));
        QCOMPARE(w->Label3->text(), QString("3"));
        QCOMPARE(w->DBGrid1->model()->rowCount(), 3);
        QCOMPARE(w->DBGrid1->model()->headerData(3, Qt::Horizontal).toString(), QString("unit 1"));
        QCOMPARE(w->DBGrid1->model()->index(0, 1).data().toString(), QString("08:30:05"));
        QVERIFY(w->Statistics->text().contains("chan 1: min 23.5  max 25.0  mean 24.167 (n 3)"));
        QVERIFY(!w->QueryErr);
        QVERIFY(w->cmdExportToExcel->isEnabled());
        // Four columns share the grid's width less 900 twips (15 twips a pixel here).
        const int expected = (w->DBGrid1->width() * 15 - 900) / 4 / 15;
        for (int c = 0; c < 4; ++c)
            QCOMPARE(w->DBGrid1->columnWidth(c), expected);

        const int before = w->DBGrid1->columnWidth(0);
        w->DBGrid1->setColumnWidth(0, before + 7);
        Ask(w.get(), {1, 3, 5});
        QCOMPARE(w->DBGrid1->model()->columnCount(), 8);
        QCOMPARE(w->DBGrid1->columnWidth(0), before + 7); // seven columns or more: widths stay
    }

    // A failed query leaves nothing of the earlier result to export, print or chart; only a query
    // without any channel (which does not run) keeps it.
    void failedQueries_data()
    {
        QTest::addColumn<QList<int>>("channels");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("startTime"); // typed with "Add Time condition" on; empty: off
        QTest::addColumn<QString>("otherFile"); // chosen with " Select Database" first
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("count"); // "Record No." afterwards
        QTest::newRow("no channel") << QList<int>{} << "2010-04-01" << ""
                                    << "" << "Please select any channel." << "3";
        QTest::newRow("end before start") << QList<int>{1} << "2010-04-03" << ""
                                          << "" << "No record matched the query." << "0";
        QTest::newRow("not a date") << QList<int>{1} << "someday" << ""
                                    << "" << "\"someday\" is not a date" << "";
        QTest::newRow("channel the file lacks") << QList<int>{1, 8} << "2010-04-01" << ""
                                                << "" << "no such column: chan 8" << "";
        QTest::newRow("hour not filled in") << QList<int>{1} << "2010-04-01" << "1_:59"
                                            << "" << "\"1_:59\" is not a time" << "";
        QTest::newRow("minutes not filled in") << QList<int>{1} << "2010-04-01" << "12:__"
                                               << "" << "\"12:__\" is not a time" << "";
        QTest::newRow("another file, matching nothing") << QList<int>{1} << "2010-04-01" << ""
                                                        << "empty.mdb" << "No record matched the query." << "0";
        QTest::newRow("another file, missing") << QList<int>{1} << "2010-04-01" << ""
                                               << "gone.mdb" << "The data file" << "";
    }
    void failedQueries()
    {
        QFETCH(QList<int>, channels);
        QFETCH(QString, from);
        QFETCH(QString, startTime);
        QFETCH(QString, otherFile);
        QFETCH(QString, message);
        QFETCH(QString, count);
        Start();
        SqliteCli(DataPath("data.mdb"), "ALTER TABLE DataRecord DROP COLUMN \"chan 8\"");
        MakeDataFile(DataPath("empty.mdb"), 8, {});
        auto w = Open<frmSelect>();
        Ask(w.get(), {1});
        QCOMPARE(w->Label3->text(), QString("3"));
        if (!otherFile.isEmpty()) {
            w->dlg1 = [&](const QString&) { return DataPath(otherFile); };
            QTest::mouseClick(w->Command7, Qt::LeftButton);
            QCOMPARE(w->DBGrid1->model()->rowCount(), 0); // the grid no longer shows the other file
            QVERIFY(!w->cmdExportToExcel->isEnabled());
        }
        if (!startTime.isEmpty()) {
            QTest::mouseClick(w->Check1, Qt::LeftButton);
            w->MaskEd1->clear();
            QTest::keyClicks(w->MaskEd1, startTime.section('_', 0, 0));
            w->MaskEd1->setCursorPosition(startTime.lastIndexOf('_') + 1);
            QTest::keyClicks(w->MaskEd1, startTime.section('_', -1));
            QCOMPARE(w->MaskEd1->displayText(), startTime);
        }
        Ask(w.get(), channels, from);
        QCOMPARE(m_host->shown.size(), 1);
        QVERIFY2(m_host->shown[0].text.startsWith(message), qPrintable(m_host->shown[0].text));
        const bool kept = count == "3";
        QCOMPARE(w->QueryErr, !kept);
        QCOMPARE(w->Label3->text(), count);
        QCOMPARE(w->DBGrid1->model()->rowCount(), kept ? 3 : 0);
        QCOMPARE(w->Statistics->text().isEmpty(), !kept);
        QCOMPARE(w->cmdExportToExcel->isEnabled(), kept);
        QCOMPARE(w->Command2->isEnabled(), kept);
    }

    // Regression: the query used to rewrite the matched rows, so a read-only file could not be queried.
    void readOnlyDataFile()
    {
        Start();
        QVERIFY(QFile::setPermissions(DataPath("data.mdb"), QFile::ReadOwner | QFile::ReadGroup));
        auto w = Open<frmSelect>();
        Ask(w.get(), {3});
        QVERIFY2(m_host->shown.isEmpty(), qPrintable(m_host->texts().join('|')));
        QCOMPARE(w->Label3->text(), QString("3"));
    }

    void sixteenChannelWindow_data()
    {
        QTest::addColumn<int>("comboIndex");
        QTest::addColumn<int>("visible");
        QTest::addColumn<QString>("fields");
        QTest::newRow("16 at load") << -1 << 16 << "[date],[time],[chan 12],[unit 12],[chan 16],[unit 16]";
        QTest::newRow("12 hides 16") << 1 << 12 << "[date],[time],[chan 12],[unit 12]";
        QTest::newRow("8 hides 12") << 0 << 8 << "";
    }
    void sixteenChannelWindow()
    {
        QFETCH(int, comboIndex);
        QFETCH(int, visible);
        QFETCH(QString, fields);
        Start();
        QVERIFY(CreateDataFile(DataPath("wide.mdb"), 16));
        SqliteCli(DataPath("wide.mdb"),
                  "INSERT INTO DataRecord (\"date\",\"time\",\"chan 12\",\"unit 12\","
                  "\"chan 16\",\"unit 16\") VALUES ('2010-04-01','08:00:00',1,'V',2,'A')");
        Shared.DataFileName = "wide.mdb";
        auto w = Open<frmSelect_16>();
        QCOMPARE(w->Combo1->count(), 3);
        QCOMPARE(w->Combo1->itemText(1), QString("  12 Channel"));
        QCOMPARE(w->Label4->text(), QString("Select Channel No"));
        QVERIFY(!w->findChild<QPushButton*>("Command2")->isVisible());
        if (comboIndex >= 0)
            w->Combo1->setCurrentIndex(comboIndex);
        int shown = 0;
        for (QCheckBox* box : w->Check2)
            shown += box->isVisible();
        QCOMPARE(shown, visible);
        Ask(w.get(), {12, 16});
        if (fields.isEmpty()) {
            QCOMPARE(m_host->texts(), QStringList{"Please select any channel."});
            QVERIFY(w->Check2[11]->isChecked());
        } else {
            QVERIFY2(w->RecordSource().startsWith("Select " + fields + " From"),
                     qPrintable(w->RecordSource()));
            QCOMPARE(w->Label3->text(), QString("1"));
        }
    }

    // The window opens on the channel count of the data file, and follows a file chosen with
    // " Select Database"; a file it cannot read, or of a count the list lacks, keeps the choice.
    void sixteenChannelWindowTakesTheFilesCount_data()
    {
        QTest::addColumn<int>("opened");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<int>("atLoad");
        QTest::addColumn<int>("afterChoice");
        QTest::newRow("8, then 16") << 8 << 16 << 8 << 16;
        QTest::newRow("16, then 12") << 16 << 12 << 16 << 12;
        QTest::newRow("12, then 8") << 12 << 8 << 12 << 8;
        QTest::newRow("missing, then 10 channels") << 0 << 10 << 12 << 12;
        QTest::newRow("16, then missing") << 16 << 0 << 16 << 16;
    }
    void sixteenChannelWindowTakesTheFilesCount()
    {
        QFETCH(int, opened);
        QFETCH(int, chosen);
        QFETCH(int, atLoad);
        QFETCH(int, afterChoice);
        Start();
        const auto file = [](const QString& name, int channels) {
            if (channels > 0)
                MakeDataFile(DataPath(name), channels, {});
            return DataPath(name);
        };
        file("opened.mdb", opened);
        Shared.DataFileName = "opened.mdb";
        auto w = Open<frmSelect_16>();
        const auto shown = [&] {
            int boxes = 0;
            for (QCheckBox* box : w->Check2)
                boxes += box->isVisible();
            return QString("%1 boxes,%2").arg(boxes).arg(w->Combo1->currentText());
        };
        QCOMPARE(shown(), QString("%1 boxes,  %1 Channel").arg(atLoad));
        const QString other = file("chosen.mdb", chosen);
        w->dlg1 = [&](const QString&) { return other; };
        QTest::mouseClick(w->Command7, Qt::LeftButton);
        QCOMPARE(shown(), QString("%1 boxes,  %1 Channel").arg(afterChoice));
        QVERIFY(m_host->shown.isEmpty());
    }

    // The statistics of sixteen channels scroll in a place of their own: the grid keeps its room.
    void sixteenChannelStatisticsKeepTheGridsRoom()
    {
        Start();
        QStringList row{"'2010-04-01'", "'08:00:00'"};
        for (int c = 1; c <= 16; ++c)
            row << QString::number(c * 1000.25) << "'kPa'";
        MakeDataFile(DataPath("wide.mdb"), 16, {row.join(',')});
        auto w = Open<frmSelect_16>();
        w->Combo1->setCurrentIndex(2);
        w->Label6->setText(DataPath("wide.mdb"));
        const auto settle = [&] {
            QCoreApplication::sendPostedEvents();
            w->layout()->activate();
        };
        settle();
        const int gridHeight = w->DBGrid1->height();
        Ask(w.get(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
        settle();
        QVERIFY(w->Statistics->text().contains("chan 16: min 16004.0"));
        QCOMPARE(w->DBGrid1->height(), gridHeight);
    }

    void printDataWritesAndOpensTheReport()
    {
        Start();
        auto w = Open<frmSelect>();
        Ask(w.get(), {1});
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        w->Check2[2]->setChecked(true); // checked after the query: the report runs it again
        QTest::mouseClick(w->Command3[1], Qt::LeftButton);
        QCOMPARE(m_host->opened, QStringList{DataPath("report.txt")});
        // The chart drawn before stays as it was.
        QVERIFY(Shared.ChartShown);
        QCOMPARE(w->Chart2D1->SeriesNames(), QStringList{"chan 1"});
        QFile report(DataPath("report.txt"));
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = report.readAll().split('\n');
        QCOMPARE(lines.size(), 8); // 7 lines and what follows the last line end
        QVERIFY(lines[1].startsWith(ReportLongDate(QDate(2026, 12, 7)).toLatin1()));
        QCOMPARE(lines[2], QByteArray("   Date      Time     Display1     Unit    Display3     Unit    \r"));
        QCOMPARE(lines[4], QByteArray("2010/04/01 08:30:0523.5       C         101.25     %RH       \r"));
    }

    // Every report and workbook is named in the window until the next query, whether or not a
    // program opened it; workbooks stay in the data folder, one new file per export.
    void outputsSayWhereTheyAre_data()
    {
        QTest::addColumn<bool>("report");
        QTest::addColumn<bool>("viewer");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("messages");
        QTest::newRow("report") << true << true << QStringList{"report.txt"} << 0;
        QTest::newRow("report, no viewer") << true << false << QStringList{"report.txt"} << 0;
        QTest::newRow("workbook twice")
            << false << true << QStringList{"Query-20261207-100000.xlsx", "Query-20261207-100000-2.xlsx"} << 0;
        QTest::newRow("workbook, no spreadsheet program")
            << false << false << QStringList{"Query-20261207-100000.xlsx"} << 1;
    }
    void outputsSayWhereTheyAre()
    {
        QFETCH(bool, report);
        QFETCH(bool, viewer);
        QFETCH(QStringList, files);
        QFETCH(int, messages);
        Start(false, viewer);
        auto w = Open<frmSelect>();
        Ask(w.get(), {1, 3});
        for (int i = 0; i < files.size(); ++i)
            QTest::mouseClick(report ? w->Command3[1] : w->cmdExportToExcel, Qt::LeftButton);
        QStringList expected;
        for (const QString& f : files)
            expected << DataPath(f);
        QCOMPARE(m_host->opened, expected);
        for (const QString& path : expected)
            QVERIFY(QFileInfo(path).size() > 0);
        QCOMPARE(m_host->shown.size(), messages);
        const QString line = w->OutputFile->text();
        QVERIFY2(line.contains(QDir::toNativeSeparators(expected.last())), qPrintable(line));
        QCOMPARE(line.contains("no program opened it"), !viewer);
        Ask(w.get(), {1});
        QCOMPARE(w->OutputFile->text(), QString());
    }

    // A desktop's opener says only when it ends that no program takes the file: the line and the
    // workbook's message follow then, unless a newer output or query came meanwhile.
    void noProgramToldLate()
    {
        Start();
        m_host->deferOpen = true;
        auto w = Open<frmSelect>();
        Ask(w.get(), {1});
        QTest::mouseClick(w->cmdExportToExcel, Qt::LeftButton);
        QTest::mouseClick(w->Command3[1], Qt::LeftButton);
        QCOMPARE(m_host->pendingOpens.size(), 2);
        QVERIFY(!w->OutputFile->text().contains("no program opened it"));
        m_host->pendingOpens[0](false); // the workbook's answer, after the report was written
        QVERIFY(m_host->shown.isEmpty());
        QVERIFY(w->OutputFile->text().startsWith("Report written to"));
        m_host->pendingOpens[1](false);
        QCOMPARE(w->OutputFile->text(),
                 QStringLiteral("Report written to %1 (no program opened it)")
                     .arg(QDir::toNativeSeparators(DataPath("report.txt"))));

        QTest::mouseClick(w->cmdExportToExcel, Qt::LeftButton);
        m_host->pendingOpens[2](false);
        QCOMPARE(m_host->shown.size(), 1);
        QVERIFY(m_host->shown[0].text.startsWith("No spreadsheet program could open the workbook."));
        QTest::mouseClick(w->cmdExportToExcel, Qt::LeftButton);
        Ask(w.get(), {1});
        m_host->pendingOpens[3](false);
        QCOMPARE(w->OutputFile->text(), QString());
        w->close();
        w.reset();
        m_host->pendingOpens[3](false); // the window is gone
        QCOMPARE(m_host->shown.size(), 1);
    }

    void chartShowClearAndSetup()
    {
        Start();
        auto w = Open<frmSelect>();
        QCOMPARE(w->Chart2D1->Header(), QString(" chart Header"));
        QCOMPARE(w->Chart2D1->Footer(), QString("Chart Footer"));
        Ask(w.get(), {1, 3});
        w->Check2[3]->setChecked(true); // not in the result: reported, the rest still drawn
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QCOMPARE(w->Chart2D1->SeriesNames(), QStringList({"chan 1", "chan 3"}));
        QVERIFY(Shared.ChartShown);
        QCOMPARE(m_host->shown.size(), 1);
        QVERIFY(m_host->shown[0].text.contains("Channel 4"));
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QCOMPARE(w->Chart2D1->SeriesNames().size(), 2);

        const struct {
            const char* grid;
            double spacing;
        } setups[] = {{"4", 25}, {"2.5", 50}, {"x", 50}};
        for (const auto& s : setups) {
            w->Text4[0]->setText("Head");
            w->Text4[2]->setText("100");
            w->Text4[3]->setText("0abc");
            w->Text4[4]->setText(s.grid);
            const int xTicks = w->Chart2D1->XTickCount();
            QTest::mouseClick(w->Command4, Qt::LeftButton);
            QCOMPARE(w->Chart2D1->YGridSpacing(), s.spacing);
            QCOMPARE(w->Chart2D1->XTickCount(), xTicks);
        }
        QCOMPARE(w->Chart2D1->Header(), QString("Head"));
        QCOMPARE(w->Chart2D1->YMax(), 100.0);
        w->Text4[5]->setText("4");
        QTest::mouseClick(w->Command4, Qt::LeftButton);
        QCOMPARE(w->Chart2D1->XTickCount(), 5);

        Ask(w.get(), {1}); // a new query clears the chart first
        QVERIFY(!Shared.ChartShown);
        QVERIFY(w->Chart2D1->SeriesNames().isEmpty());
        QTest::mouseClick(w->Command5, Qt::LeftButton);
        QVERIFY(!Shared.ChartShown);
    }

    // Each channel has its own colour, far from the others and from the white plot area; the
    // legend and the titles show only with something in them.
    void chartColoursLegendAndTitles()
    {
        for (int a = 1; a <= 16; ++a) {
            QVERIFY(ColourDistance(ChannelColour(a), Qt::white) >= 250);
            for (int b = a + 1; b <= 16; ++b)
                QVERIFY2(ColourDistance(ChannelColour(a), ChannelColour(b)) >= 120,
                         qPrintable(QString("channels %1 and %2").arg(a).arg(b)));
        }
        Start();
        auto w = Open<frmSelect>();
        QLegend* legend = w->Chart2D1->findChild<QChartView*>()->chart()->legend();
        QVERIFY(!legend->isVisible());
        Ask(w.get(), {1, 2, 3, 4, 5, 6, 7, 8});
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QSet<QRgb> colours;
        for (const QString& name : w->Chart2D1->SeriesNames())
            colours.insert(w->Chart2D1->SeriesColour(name).rgb());
        QCOMPARE(colours.size(), 8);
        QVERIFY(legend->isVisible());
        QTest::mouseClick(w->Command5, Qt::LeftButton);
        QVERIFY(!legend->isVisible());

        w->Text4[0]->setText("Head");
        w->Text4[1]->setText(" ");
        QTest::mouseClick(w->Command4, Qt::LeftButton);
        QVERIFY(!w->Chart2D1->findChild<QLabel*>("Header")->isHidden());
        QVERIFY(w->Chart2D1->findChild<QLabel*>("Footer")->isHidden());
    }

    // Points stand at the instant each record was made, also on the days the clocks change.
    void chartPointsAtTheirRealInstant_data()
    {
        QTest::addColumn<QString>("day");
        QTest::addColumn<QStringList>("times");
        QTest::addColumn<QStringList>("utc"); // the expected instants, as UTC date-times
        QTest::newRow("clocks forward") << "2026-03-29" << QStringList{"01:59:00", "03:00:00", "12:00:00"}
                                        << QStringList{"2026-03-29T00:59:00", "2026-03-29T01:00:00",
                                                       "2026-03-29T10:00:00"};
        QTest::newRow("clocks back, the hour twice")
            << "2026-10-25" << QStringList{"01:30:00", "02:59:00", "02:00:00", "02:30:00", "12:00:00"}
            << QStringList{"2026-10-24T23:30:00", "2026-10-25T00:59:00", "2026-10-25T01:00:00",
                           "2026-10-25T01:30:00", "2026-10-25T11:00:00"};
        QTest::newRow("ordinary day") << "2026-12-07" << QStringList{"00:00:00", "12:00:00"}
                                      << QStringList{"2026-12-06T23:00:00", "2026-12-07T11:00:00"};
    }
    void chartPointsAtTheirRealInstant()
    {
        QFETCH(QString, day);
        QFETCH(QStringList, times);
        QFETCH(QStringList, utc);
        const LocalZone berlin("Europe/Berlin");
        Start();
        QStringList rows;
        for (int i = 0; i < times.size(); ++i)
            rows << QString("'%1','%2',%3,'V'").arg(day, times[i]).arg(i);
        MakeDataFile(DataPath("day.mdb"), 8, rows, 1);
        auto w = Open<frmSelect>();
        w->Label6->setText(DataPath("day.mdb"));
        Ask(w.get(), {1}, day, day);
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QStringList drawn;
        for (const QPointF& p : w->Chart2D1->Points("chan 1"))
            drawn << QDateTime::fromMSecsSinceEpoch(qint64(p.x()), Qt::UTC).toString(Qt::ISODate).chopped(1);
        QCOMPARE(drawn, utc);
    }

    void printChartToPdf()
    {
        Start();
        auto w = Open<frmSelect>();
        Ask(w.get(), {1});
        QTest::mouseClick(w->Command2, Qt::LeftButton);
        const QString pdf = m_dir->filePath("chart.pdf");
        w->choosePrinter = [&](QPrinter* printer) {
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(pdf);
            return true;
        };
        QTest::mouseClick(w->Command3[0], Qt::LeftButton);
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.read(5) == "%PDF-" && file.size() > 10000);
        QVERIFY(m_host->shown.isEmpty());
    }
};

VARNIK_TEST_CLASS(TestFrmSelect)
#include "test_frmSelect.moc"
