#include "acquisition/frmMain.h"
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
#include <QTimer>
#include <memory>

namespace {
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

    void failedQueries_data()
    {
        QTest::addColumn<QList<int>>("channels");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("queryErr");
        QTest::newRow("no channel") << QList<int>{} << "2010-04-01"
                                    << "Please select any channel." << false;
        QTest::newRow("end before start") << QList<int>{1} << "2010-04-03"
                                          << "No record matched the query." << true;
        QTest::newRow("not a date") << QList<int>{1} << "someday"
                                    << "\"someday\" is not a date" << true;
        QTest::newRow("channel the file lacks") << QList<int>{1, 8} << "2010-04-01"
                                                << "no such column: chan 8" << true;
    }
    void failedQueries()
    {
        QFETCH(QList<int>, channels);
        QFETCH(QString, from);
        QFETCH(QString, message);
        QFETCH(bool, queryErr);
        Start();
        SqliteCli(DataPath("data.mdb"), "ALTER TABLE DataRecord DROP COLUMN \"chan 8\"");
        auto w = Open<frmSelect>();
        Ask(w.get(), channels, from);
        QCOMPARE(m_host->shown.size(), 1);
        QVERIFY2(m_host->shown[0].text.startsWith(message), qPrintable(m_host->shown[0].text));
        QCOMPARE(w->QueryErr, queryErr);
        QVERIFY(!w->cmdExportToExcel->isEnabled());
        QCOMPARE(w->Label3->text(), QString());
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
        QTest::newRow("12 at load") << -1 << 12 << "[date],[time],[chan 12],[unit 12]";
        QTest::newRow("8 hides 12") << 0 << 8 << "";
        QTest::newRow("16") << 2 << 16 << "[date],[time],[chan 12],[unit 12],[chan 16],[unit 16]";
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
        auto w = Open<frmSelect_16>();
        QCOMPARE(w->Combo1->count(), 3);
        QCOMPARE(w->Combo1->itemText(1), QString("  12 Channel"));
        QCOMPARE(w->Label4->text(), QString("Select Channel No"));
        QVERIFY(!w->findChild<QPushButton*>("Command2")->isVisible());
        w->Label6->setText(DataPath("wide.mdb"));
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

    void printDataWritesAndOpensTheReport()
    {
        Start();
        auto w = Open<frmSelect>();
        Ask(w.get(), {1});
        w->Check2[2]->setChecked(true); // checked after the query: the report runs it again
        QTest::mouseClick(w->Command3[1], Qt::LeftButton);
        QCOMPARE(m_host->opened, QStringList{DataPath("report.txt")});
        QFile report(DataPath("report.txt"));
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = report.readAll().split('\n');
        QCOMPARE(lines.size(), 8); // 7 lines and what follows the last line end
        QVERIFY(lines[1].startsWith(ReportLongDate(QDate(2026, 12, 7)).toLatin1()));
        QCOMPARE(lines[2], QByteArray("   Date      Time     Display1     Unit    Display3     Unit    \r"));
        QCOMPARE(lines[4], QByteArray("2010/04/01 08:30:0523.5       C         101.25     %RH       \r"));
    }

    void exportOpensANewWorkbookEachTime()
    {
        Start();
        auto w = Open<frmSelect_16>();
        w->Combo1->setCurrentIndex(0);
        Ask(w.get(), {1, 3});
        QTest::mouseClick(w->cmdExportToExcel, Qt::LeftButton);
        QTest::mouseClick(w->cmdExportToExcel, Qt::LeftButton);
        QCOMPARE(m_host->opened.size(), 2);
        QVERIFY(m_host->opened[0] != m_host->opened[1]);
        for (const QString& path : m_host->opened) {
            QVERIFY(path.endsWith(".xlsx") && QFileInfo(path).size() > 0);
            QDir(QFileInfo(path).path()).removeRecursively();
        }
        QVERIFY(m_host->shown.isEmpty());
    }

    void exportWithoutSpreadsheetProgramSaysWhere()
    {
        Start(false, false);
        auto w = Open<frmSelect>();
        Ask(w.get(), {1});
        QTest::mouseClick(w->cmdExportToExcel, Qt::LeftButton);
        QCOMPARE(m_host->opened.size(), 1);
        QCOMPARE(m_host->shown.size(), 1);
        QVERIFY(m_host->shown[0].text.endsWith(QDir::toNativeSeparators(m_host->opened[0])));
        QDir(QFileInfo(m_host->opened[0]).path()).removeRecursively();
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
