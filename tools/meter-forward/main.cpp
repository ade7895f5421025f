// meter-forward: sends the rows of a data file that the central database lacks, then exits.
// Exit code 0 when the server holds every row, 1 when the server could not be reached (or refused
// the login or the rows), 2 on bad arguments or a file that is not a data file.
#include "forward/forwarder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

const char* const Usage =
    "Usage: meter-forward DATAFILE --to URL [--station NAME]\n"
    "Sends the rows of DATAFILE that the central PostgreSQL database does not hold yet into its\n"
    "table readings, then the events of its event log into the table events (both created when\n"
    "missing), in order and in batches, each batch one transaction. Each row also gets its instant\n"
    "(recorded_utc): its date and time read in this host's time zone (TZ).\n"
    "\n"
    "  --to URL         PostgreSQL connection URI, e.g. postgresql://logger@db.lab:5432/lab;\n"
    "                   a password comes from the URI, PGPASSWORD or ~/.pgpass\n"
    "  --station NAME   the recording station the rows belong to (default: this host's name)\n"
    "  --help           show this text\n"
    "\n"
    "Exit code: 0 the server holds every row, 1 the server could not be reached, 2 bad arguments.\n";

int BadArguments(const QString& message)
{
    std::fprintf(stderr, "meter-forward: %s\n", qPrintable(message));
    return 2;
}

// A bar redrawn in place on a terminal; elsewhere (a log, a pipe) a plain line every tenth.
class Progress {
  public:
    explicit Progress(bool terminal) : m_terminal(terminal) {}
    ~Progress()
    {
        if (m_drawn)
            std::fputc('\n', stdout);
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Show(qint64 done, qint64 total)
    {
        const int percent = total > 0 ? int(done * 100 / total) : 100;
        if (m_terminal) {
            if (percent == m_percent && done != total)
                return;
            constexpr int Width = 30;
            const QString bar =
                QString(percent * Width / 100, QLatin1Char('#')).leftJustified(Width, QLatin1Char('-'));
            std::printf("\r[%s] %3d%%  %lld of %lld rows", qPrintable(bar), percent, done, total);
            m_drawn = true;
        } else {
            if (percent / 10 == m_percent / 10 && done != total)
                return;
            std::printf("%lld of %lld rows sent (%d%%)\n", done, total, percent);
        }
        m_percent = percent;
        std::fflush(stdout);
    }

  private:
    bool m_terminal;
    bool m_drawn = false;
    int m_percent = -1;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ForwardTarget target;
    QStringList arguments = QCoreApplication::arguments().mid(1);
    bool urlGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        const bool option = name.startsWith(QLatin1String("--"));
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        if (option && equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        }
        const bool takesValue = name == QLatin1String("--to") || name == QLatin1String("--station");
        if (option && !takesValue && name != QLatin1String("--help"))
            return BadArguments(QStringLiteral("unknown option %1 (see --help)").arg(name));
        if (takesValue && equals < 0) {
            if (i + 1 >= arguments.size())
                return BadArguments(QStringLiteral("%1 needs a value (see --help)").arg(name));
            value = arguments[++i];
        }
        if (name == QLatin1String("--help")) {
            std::fputs(Usage, stdout);
            return 0;
        } else if (name == QLatin1String("--to")) {
            target.url = value;
            urlGiven = true;
        } else if (name == QLatin1String("--station")) {
            if (value.trimmed().isEmpty())
                return BadArguments(QStringLiteral("--station needs a name"));
            target.station = value;
        } else if (!target.dataFile.isEmpty()) {
            return BadArguments(QStringLiteral("one data file at a time, not also %1").arg(name));
        } else {
            target.dataFile = name;
        }
    }
    if (target.dataFile.isEmpty())
        return BadArguments(QStringLiteral("no data file given (see --help)"));
    if (!urlGiven)
        return BadArguments(QStringLiteral("no central database given: --to URL (see --help)"));
    QString error;
    if (!CheckForwardUrl(target.url, &error))
        return BadArguments(error);
    if (!QFileInfo(target.dataFile).isFile())
        return BadArguments(QStringLiteral("no data file %1").arg(target.dataFile));
    if (target.station.isEmpty())
        target.station = DefaultStation();

    ForwardPass pass;
    {
        Progress progress(isatty(fileno(stdout)) != 0);
        pass = ForwardOnce(target, {}, [&](qint64 done, qint64 total) { progress.Show(done, total); });
    }
    const QString file = QFileInfo(target.dataFile).fileName();
    switch (pass.outcome) {
    case ForwardPass::Outcome::Complete:
        std::printf("The central database holds every row of %s for station %s (%lld rows, %lld sent now).\n",
                    qPrintable(file), qPrintable(target.station), pass.serverRowId, pass.sentRows);
        if (pass.sentEvents > 0)
            std::printf("%lld events sent now.\n", pass.sentEvents);
        if (!pass.message.isEmpty())
            std::fprintf(stderr, "meter-forward: %s\n", qPrintable(pass.message));
        return 0;
    case ForwardPass::Outcome::DataFileError:
        return BadArguments(pass.message);
    case ForwardPass::Outcome::Unreachable:
    case ForwardPass::Outcome::Stopped:
        break;
    }
    std::fprintf(stderr, "meter-forward: the central database could not be reached: %s\n",
                 qPrintable(pass.message));
    std::fprintf(stderr, "meter-forward: %lld rows sent, %lld rows of %s wait.\n", pass.sentRows,
                 pass.waitingRows, qPrintable(file));
    return 1;
}
