#pragma once
// What the meter-record end-to-end tests share: a program folder with the shipped configuration,
// a child process read line by line, and the recorder's and the simulator's command lines.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <memory>

// A program folder for the recorder: the shipped configuration with our scan rate and row limit,
// and a settings store of its own.
class RecordFolder {
  public:
    explicit RecordFolder(int maxRecords = 65535, const QString& dataFile = QStringLiteral("Data1.mdb"))
    {
        for (const char* name : {"unit2.dat", "display.dat", "dispchan.dat"})
            QFile::copy(QStringLiteral(VARNIK_SOURCE_DIR "/data/") + QLatin1String(name), path(name));
        QFile defaults(path("default.txt"));
        if (defaults.open(QIODevice::WriteOnly))
            defaults.write(
                QStringLiteral("\"Comm. Port \",1\r\n\"Data File Name\",\"%2\"\r\n"
                               "\"System Scan Rate\",1\r\n\"Max Record data\",%1\r\n"
                               "\"Text Display type\",0\r\n\"Angular Display Channel\",0\r\n"
                               "\"Chart Display Channel\",1\r\n\"Format 01 and Special Meter\",0\r\n")
                    .arg(maxRecords)
                    .arg(dataFile)
                    .toLatin1());
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString dir() const { return m_dir.path(); }
    QString device() const { return path(QStringLiteral("meter")); }

  private:
    QTemporaryDir m_dir;
};

// A child process whose standard output is read line by line: one of ours by its name, or any
// program by its absolute path.
class Run {
  public:
    Run(const QString& program, const QStringList& arguments, const QString& configHome)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        env.insert(QStringLiteral("VARNIK_WATCHDOG_MS"), QStringLiteral("1000"));
        process.setProcessEnvironment(env);
        process.start(program.startsWith(QLatin1Char('/')) ? program
                                                           : QStringLiteral(VARNIK_BINARY_DIR "/") + program,
                      arguments);
    }
    ~Run()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // Waits for an output line containing `text`, the `count`th such line; false on timeout.
    bool waitFor(const QString& text, int count = 1, int timeoutMs = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            while (process.canReadLine())
                lines << QString::fromUtf8(process.readLine()).trimmed();
            if (lines.filter(text).size() >= count)
                return true;
            const int left = timeoutMs - int(clock.elapsed());
            if (left <= 0 || process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(left);
        }
    }
    bool signalAndWait(int signal)
    {
        ::kill(pid_t(process.processId()), signal);
        return finish();
    }
    bool finish()
    {
        const bool done = process.waitForFinished(20000);
        while (process.canReadLine())
            lines << QString::fromUtf8(process.readLine()).trimmed();
        return done;
    }
    QString output() const { return lines.join(QLatin1Char('\n')); }

    QProcess process;
    QStringList lines;
};

inline QStringList Recorder(const RecordFolder& folder, const QStringList& more = {})
{
    return QStringList{"--data-dir", folder.dir(), "--device", folder.device(), "--channels", "16"} + more;
}

inline std::unique_ptr<Run> StartSim(const RecordFolder& folder, const QStringList& more = {})
{
    auto sim = std::make_unique<Run>(QStringLiteral("meter-sim"),
                                     QStringList{"--channels", "16", "--link", folder.device()} + more,
                                     folder.dir());
    return sim->waitFor(QStringLiteral("/dev/")) ? std::move(sim) : nullptr;
}
