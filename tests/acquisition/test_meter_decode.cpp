#include "test_registry.h"

#include <QMap>
#include <QProcess>
#include <QTest>

namespace {

const QString Capture = QStringLiteral(VARNIK_TEST_DATA_DIR "/acquisition/mixed.bin");
const QString Format01Capture = QStringLiteral(VARNIK_TEST_DATA_DIR "/acquisition/format01.bin");

// The 17 --state lines: the channels given; every other one was never heard and has no reading
// (never a 0 that would read as one).
QByteArray StateLines(const QMap<int, QByteArray>& touched)
{
    QByteArray lines;
    for (int ch = 0; ch <= 16; ++ch)
        lines += QByteArray::number(ch) + ' ' + touched.value(ch, "- - -") + '\n';
    return lines;
}

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run MeterDecode(const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    process.start(QStringLiteral(VARNIK_BINARY_DIR "/meter-decode"), arguments);
    process.write(input);
    process.closeWriteChannel();
    Run run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QByteArray ReadCapture()
{
    QFile file(Capture);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestMeterDecode : public QObject {
    Q_OBJECT

  private slots:
    void decodes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("fromStdin");
        QTest::addColumn<QByteArray>("expected");
        const QMap<int, QByteArray> everyFrame{{0, "999999 3 0"},
                                               {1, "999999 1 2"},
                                               {2, "12.300000000000001 1 1"},
                                               {3, "123.44999694824219 12 2"},
                                               {6, "7.1999998092651367 1 1"},
                                               {16, "800 153 0"}};
        // In one receive event the frame with the wrong end byte takes all later frames with it.
        const QMap<int, QByteArray> oneEvent{
            {1, "4.559999942779541 1 2"}, {2, "12.300000000000001 1 1"}, {3, "123.44999694824219 12 2"}};
        QMap<int, QByteArray> scaled = everyFrame;
        scaled[3] = "246.89999389648438 12 2";

        QTest::newRow("state, a byte per event")
            << QStringList{"--state", "--chunk", "1", Capture} << false << StateLines(everyFrame);
        QTest::newRow("state, one event")
            << QStringList{"--chunk=4096", "--state", Capture} << false << StateLines(oneEvent);
        QTest::newRow("state from standard input")
            << QStringList{"--state", "--chunk", "1"} << true << StateLines(everyFrame);
        QTest::newRow("state from standard input as -")
            << QStringList{"--state", "--chunk", "1", "-"} << true << StateLines(everyFrame);
        QTest::newRow("scale") << QStringList{"--state", "--chunk",     "1",    "--scale",
                                              "3=2",     "--scale=5=9", Capture}
                               << false << StateLines(scaled);
        QTest::newRow("without Format01") << QStringList{"--state", Format01Capture} << false
                                          << StateLines({{1, "4.559999942779541 1 2"}, {2, "0 1 1"}});
        QTest::newRow("Format01") << QStringList{"--format01", "--state", Format01Capture} << false
                                  << StateLines({{1, "456 1 2"}, {2, "0 1 1"}});
        QTest::newRow("a line per frame") << QStringList{"--chunk", "1", Capture} << false
                                          << QByteArray("ch 3 123.45 unit 12\n"
                                                        "dual: ch 1 4.56 unit 1, ch 2 12.3 unit 1\n"
                                                        "ch 6 7.2 unit 1\n"
                                                        "dropped: channel digit 17 is above 16\n"
                                                        "ch 0 invalid\n"
                                                        "ch 16 800 unit 153\n");
    }

    void decodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, fromStdin);
        QFETCH(QByteArray, expected);
        const Run run = MeterDecode(arguments, fromStdin ? ReadCapture() : QByteArray());
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, expected);
    }

    // A capture without a single frame (a port read in its default mode turns each frame's 0x0D
    // into 0x0A) is said, not passed over in silence.
    void saysWhenNoFrameIsFound()
    {
        QByteArray cooked = ReadCapture();
        cooked.replace('\r', '\n');
        const Run run = MeterDecode({}, cooked);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray());
        QVERIFY2(run.err.startsWith("meter-decode: no frame in ") && run.err.contains("stty"), run.err.constData());
    }

    void rejects_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList{"--bogus", Capture};
        QTest::newRow("chunk 0") << QStringList{"--chunk", "0", Capture};
        QTest::newRow("chunk not a number") << QStringList{"--chunk", "many", Capture};
        QTest::newRow("chunk without value") << QStringList{Capture, "--chunk"};
        QTest::newRow("scale of channel 17") << QStringList{"--scale", "17=2", Capture};
        QTest::newRow("scale without factor") << QStringList{"--scale", "3", Capture};
        QTest::newRow("scale not a number") << QStringList{"--scale", "3=x", Capture};
        QTest::newRow("value for a flag") << QStringList{"--state=1", Capture};
        QTest::newRow("missing file") << QStringList{Capture + ".missing"};
        QTest::newRow("folder") << QStringList{QStringLiteral(VARNIK_TEST_DATA_DIR)};
        QTest::newRow("two files") << QStringList{Capture, Capture};
    }

    void rejects()
    {
        QFETCH(QStringList, arguments);
        const Run run = MeterDecode(arguments);
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QByteArray());
        QVERIFY2(run.err.startsWith("meter-decode: ") && run.err.count('\n') == 1 && run.err.endsWith('\n'),
                 run.err.constData());
    }

    void help()
    {
        const Run run = MeterDecode({"--help"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith("Usage: meter-decode"));
        QCOMPARE(run.err, QByteArray());
    }
};

VARNIK_TEST_CLASS(TestMeterDecode)
#include "test_meter_decode.moc"
