// The libsigrok source against a stand-in for meter-sigrok (a shell script that writes given
// lines, then hangs, exits or ignores SIGTERM): readings as the meter shows them (digits, one unit
// per channel with AC/DC, HOLD, overload, a change of function), and its faults: a silent helper
// killed and started again, an absent device tried again, a bad option not, a scheduled restart
// without a link gap, and a stop that ends within a second even when the helper ignores SIGTERM.
#include "core/config_files.h"
#include "core/recorded_reading.h"
#include "core/shared_state.h"
#include "datafile/event_log.h"
#include "station/sigrok_source.h"
#include "station/source_choice.h"
#include "sigrok_stand_in.h"
#include "test_registry.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>

namespace {

// Behaviour by driver name: hang* writes DRIVER.lines and sleeps, stubborn* also ignores SIGTERM,
// exitN* writes them and exits with N. Every start appends its pid to DRIVER.launches.
const char* FakeHelper = R"sh(#!/bin/bash
dir="$(dirname "$0")"
[ "$1" = --check ] && { printf 'meter-sigrok\t1\nok\n'; exit 0; }
echo $$ >> "$dir/$1.launches"
cat "$dir/$1.lines" 2>/dev/null
case "$1" in
  hang*) exec sleep 60 ;;
  stubborn*) trap '' TERM; while :; do sleep 0.2; done ;;
  exit*) exit "${1:4:1}" ;;
esac
)sh";

struct Snapshot {
    int channel;
    double value;
    int decimals;
    QString unit;
    QStringList flags;
};

} // namespace

class TestSigrokSource : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SigrokSource> m_source;
    QList<Snapshot> m_readings;
    int m_linkOnly = 0;
    QStringList m_link; // "up", "down: why"
    QStringList m_reports;
    QList<LoggedEvent> m_events;

    // A source on the fake driver `driver` whose helper writes `lines` (TABs as given).
    SigrokSource& Make(const QString& driver, const QByteArray& lines, int channels = 1)
    {
        QFile out(m_dir->filePath(driver + ".lines"));
        if (!out.open(QIODevice::WriteOnly) || out.write("meter-sigrok\t1\n" + lines) < 0)
            qFatal("cannot write the fake lines");
        out.close();
        m_source = std::make_unique<SigrokSource>(SigrokSource::Settings{driver, {}, channels});
        SigrokSource& s = *m_source;
        s.FirstChannel = 3;
        s.hooks.Readings = [this](const int* channels, int count) {
            if (count == 0)
                ++m_linkOnly;
            for (int i = 0; i < count; ++i) {
                RecordedReading r;
                QVERIFY(RecordedReadingOf(channels[i], &r));
                m_readings.append({channels[i], Shared.ChanValue[channels[i]], r.decimals, r.unit,
                                   Shared.ChanMode[channels[i]].flags});
            }
        };
        s.hooks.LinkChanged = [this](bool up, const QString& why) { m_link << (up ? QStringLiteral("up") : "down: " + why); };
        s.hooks.Report = [this](const QString& line) { m_reports << line; };
        s.hooks.Event = [this](const QString& kind, int channel, std::optional<double> value, const QString& text) {
            m_events.append(LoggedEvent::At(QDateTime::currentDateTime(), kind, text, channel, value));
        };
        return s;
    }
    QStringList Launches(const QString& driver) const
    {
        QFile in(m_dir->filePath(driver + ".launches"));
        return in.open(QIODevice::ReadOnly) ? QString::fromLatin1(in.readAll()).split('\n', Qt::SkipEmptyParts)
                                            : QStringList();
    }

  private slots:
    void init()
    {
        Shared = SharedState{};
        m_dir = std::make_unique<QTemporaryDir>();
        UseSigrokStandIn(m_dir->path(), FakeHelper);
        Shared.DataFolder = QStringLiteral(VARNIK_SOURCE_DIR "/data");
        QString error;
        QVERIFY2(LoadUnitNames(&error), qPrintable(error));
        m_readings.clear();
        m_linkOnly = 0;
        m_link.clear();
        m_reports.clear();
        m_events.clear();
    }
    void cleanup()
    {
        m_source.reset();
        qunsetenv("VARNIK_SIGROK_HELPER");
    }

    void readingsAsTheMeterShowsThem()
    {
        SigrokSource& s = Make("hang", "device\tDemo device\t2\n"
                                       "reading\t0\t0.9999\t4\tvoltage\tV\tdc,auto\n"
                                       "reading\t1\t-1.50\t2\tcurrent\tA\tac\n"
                                       "reading\t0\t0.5000\t4\tvoltage\tV\tdc,hold\n"
                                       "reading\t0\tinf\t1\tvoltage\tV\tdc\n"
                                       "reading\t0\t-inf\t1\tvoltage\tV\tdc\n"
                                       "reading\t0\t12.34\t2\tresistance\tOhm\t-\n"
                                       "reading\t0\tnan\t2\tresistance\tOhm\t-\n"
                                       "not a line of ours\n"
                                       "reading\t2\t1.0\t1\tvoltage\tV\tdc\n",
                               2);
        s.Start();
        QTRY_COMPARE(int(s.FramesReceived()), 8);
        QCOMPARE(int(s.FramesRejected()), 1);
        QCOMPARE(m_link, QStringList{"up"});
        QVERIFY(m_reports.filter("Demo device open, 2 analog channels, recorded from channel 3").size() == 1);
        // Every digit the meter shows, one unit per channel with AC/DC; HOLD and a channel past
        // the source's two count for the link only.
        const QList<std::tuple<int, double, int, QString>> expected{
            {3, 0.9999, 4, "VDC"}, {4, -1.5, 2, "AAC"},  {3, InvalidReading, 0, "VDC"},
            {3, InvalidReading, 0, "VDC"}, {3, 12.34, 2, "Ohm"}, {3, InvalidReading, 0, "Ohm"}};
        QCOMPARE(m_readings.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const auto& [channel, value, decimals, unit] = expected[i];
            QCOMPARE(m_readings[i].channel, channel);
            QCOMPARE(m_readings[i].value, value);
            QCOMPARE(m_readings[i].decimals, decimals);
            QCOMPARE(m_readings[i].unit, unit);
        }
        QCOMPARE(m_linkOnly, 2);
        // An over-range reading's mode says so; a reading that is not a number is not an overload.
        QCOMPARE(m_readings[2].flags, (QStringList{"dc", "overload"}));
        QCOMPARE(m_readings[0].flags, (QStringList{"dc", "auto"}));
        QVERIFY(!m_readings[5].flags.contains("overload"));
        // unit2.dat's Ohm keeps its code; VDC gets one of its own.
        QCOMPARE(int(Shared.ChanUnit[3]), 8);
        QCOMPARE(Shared.UnitName[Shared.ChanUnit[4]], QStringLiteral("AAC"));
        // One overload event per entry into overload, one per change of function or of HOLD.
        QStringList events;
        for (const LoggedEvent& e : m_events)
            events << QStringLiteral("%1 %2: %3").arg(e.kind).arg(e.channel.value_or(0)).arg(e.text);
        QCOMPARE(events, (QStringList{"function 3: HOLD on", "function 3: HOLD off",
                                      "overload 3: voltage VDC: over range (+)",
                                      "function 3: voltage VDC to resistance Ohm",
                                      "overload 3: resistance Ohm: not a number"}));
    }

    // The meter's mode beside the reading, HOLD included while the channel gets no reading, and
    // one "function" event per change of it, never one per reading.
    void modeReachesTheChannelAndTheLog()
    {
        SigrokSource& s = Make("hang", "reading\t0\t1.000\t3\tvoltage\tV\tdc,auto,<b>\n"
                                       "reading\t0\t1.001\t3\tvoltage\tV\tdc,auto\n"
                                       "reading\t0\t0.000\t3\tvoltage\tV\tdc,auto,rel\n"
                                       "reading\t0\t0.000\t3\tvoltage\tV\tdc,hold,auto,rel\n"
                                       "reading\t0\t0.000\t3\tresistance\tOhm\thold\n"
                                       "reading\t0\t0.002\t3\tvoltage\tV\tdc,auto,rel\n"
                                       "reading\t0\t0.500\t3\tvoltage\tV\tac,auto\n"
                                       "reading\t0\t0.700\t3\tvoltage\tV\tac,max,auto\n"
                                       "reading\t0\t0.700\t3\tvoltage\tV\tac,max,auto,unstable\n");
        QStringList heldModes;
        s.hooks.ModeChanged = [&heldModes](int n) { heldModes << Shared.ChanMode[n].flags.join(','); };
        s.Start();
        QTRY_COMPARE(int(s.FramesReceived()), 9);
        QCOMPARE(m_readings.size(), 7);
        // Said once, while no reading came, and as the reading it holds: a function turned meanwhile
        // is no change of what the display shows.
        QCOMPARE(heldModes, QStringList{"dc,auto,rel,hold"});
        QCOMPARE(Shared.ChanMode[3], (ChannelMode{"voltage", {"ac", "max", "auto", "unstable"}}));
        QStringList events;
        for (const LoggedEvent& e : m_events)
            events << QStringLiteral("%1 %2: %3").arg(e.kind).arg(e.channel.value_or(0)).arg(e.text);
        QCOMPARE(events, (QStringList{"function 3: voltage VDC to voltage VDC REL", "function 3: HOLD on",
                                      "function 3: HOLD off", "function 3: voltage VDC REL to voltage VAC",
                                      "function 3: voltage VAC to voltage VAC MAX"}));
        // Gone with the source; the instrument's channels never had one.
        s.Stop();
        QCOMPARE(Shared.ChanMode[3], ChannelMode{});
        QCOMPARE(Shared.ChanMode[1], ChannelMode{});
    }

    void silentHelperIsKilledAndStartedAgain()
    {
        SigrokSource& s = Make("hang", "reading\t0\t1.0\t1\tvoltage\tV\tdc\n");
        s.SilenceMs = 300;
        s.Start();
        QTRY_COMPARE(Launches("hang").size(), 3);
        const pid_t first = pid_t(Launches("hang")[0].toInt());
        QVERIFY(::kill(first, 0) != 0);
        QCOMPARE(m_link.mid(0, 3), (QStringList{"up", "down: sigrok:hang: no readings for 0.3 s", "up"}));
        QVERIFY(!m_reports.filter("sigrok:hang: no readings for 0.3 s: helper restarted").isEmpty());
    }

    // The station's thread (the program's window) goes on while a stuck helper is ended: the
    // helper that ignores SIGTERM is still there after the restart returns, gone before the next.
    void restartDoesNotWaitForTheHelper()
    {
        SigrokSource& s = Make("stubborn", "reading\t0\t1.0\t1\tvoltage\tV\tdc\n");
        s.SilenceMs = 300;
        pid_t old = 0;
        bool aliveAfterwards = false;
        s.hooks.Report = [&](const QString& line) {
            if (old || !line.endsWith(QLatin1String("helper restarted")))
                return;
            old = pid_t(s.Helper()->processId());
            QTimer::singleShot(0, this, [&] { aliveAfterwards = ::kill(old, 0) == 0; });
        };
        s.Start();
        QTRY_COMPARE(Launches("stubborn").size(), 2);
        QVERIFY(old);
        QVERIFY(aliveAfterwards);
        QVERIFY(::kill(old, 0) != 0);
    }

    void absentDeviceIsTriedAgain()
    {
        SigrokSource& s = Make("exit3", "error\tabsent\tno exit3 device found\n");
        s.RetryMs = 100;
        s.Start();
        QTRY_VERIFY(Launches("exit3").size() >= 3);
        QCOMPARE(m_link, QStringList{"down: sigrok:exit3: no exit3 device found"});
        // Said once, however often it is tried.
        QCOMPARE(m_reports.filter("sigrok:exit3: no exit3 device found; trying again every 0.1 s").size(), 1);
    }

    void badOptionIsNotTriedAgain()
    {
        SigrokSource& s = Make("exit2", "error\toption\tsamplerate=1: not applicable\n");
        s.RetryMs = 10;
        s.Start();
        QTRY_COMPARE(m_link, QStringList{"down: sigrok:exit2: samplerate=1: not applicable"});
        QVERIFY(!m_reports.filter("not tried again").isEmpty());
        QVERIFY(!s.Helper());
        QCOMPARE(Launches("exit2").size(), 1);
    }

    void scheduledRestartKeepsTheLink()
    {
        SigrokSource& s = Make("hang", QByteArray("reading\t0\t1.0\t1\tvoltage\tV\tdc\n").repeated(4));
        s.RestartAfter = 3;
        s.Start();
        QTRY_VERIFY(Launches("hang").size() >= 2);
        QTRY_VERIFY(s.FramesReceived() >= 6);
        QCOMPARE(m_link, QStringList{"up"});
        QVERIFY(!m_reports.filter("helper restarted after 3 readings").isEmpty());
    }

    void driverNamesAsLibsigrokSpellsThem()
    {
        // The FS9721 meters' driver is the one name with capitals; a blank or a leading dash is no name.
        SourceChoice choice;
        QString error;
        QVERIFY2(ParseSourceChoice("sigrok:tekpower-tp4000ZC:conn=/dev/ttyUSB0", &choice, &error), qPrintable(error));
        QCOMPARE(choice.driver, QString("tekpower-tp4000ZC"));
        QCOMPARE(choice.options, QStringList{"conn=/dev/ttyUSB0"});
        QVERIFY(!ParseSourceChoice("sigrok:-demo", &choice, &error));
        QVERIFY(!ParseSourceChoice("sigrok:de mo", &choice, &error));
        // A channel after @ that is no number is named as such; a control character is never echoed.
        for (const char* at : {"@3x", "@-1", "@", "@99999999999999999999"}) {
            QVERIFY(!ParseSourceChoice(QStringLiteral("sigrok:demo") + at, &choice, &error));
            QCOMPARE(error, QStringLiteral("source \"sigrok:demo%1\": %1 is no channel 1 to 16").arg(at));
        }
        QVERIFY(!ParseSourceChoice("sigrok:de\x1bmo\n:x=1", &choice, &error));
        QCOMPARE(error, QStringLiteral("a source holds the control character U+001b"));
        // Nor does a device's own description reach a log line with its escape sequence.
        QCOMPARE(ParseSigrokLine("device\tEvil\x1b[31m\t2").name, QStringLiteral("Evil\uFFFD[31m"));
    }

    void stopEndsWithinASecond()
    {
        SigrokSource& s = Make("stubborn", "reading\t0\t1.0\t1\tvoltage\tV\tdc\n");
        s.Start();
        QTRY_COMPARE(m_link, QStringList{"up"});
        const pid_t pid = pid_t(s.Helper()->processId());
        QElapsedTimer clock;
        clock.start();
        s.Stop();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(::kill(pid, 0) != 0);
        QVERIFY(!s.Helper());
    }
};

VARNIK_TEST_CLASS(TestSigrokSource)
#include "test_sigrok_source.moc"
