#include "web/status_formats.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <cmath>

#ifdef __linux__
#include <unistd.h>
#endif

namespace web {

namespace {

QJsonValue TimeJson(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODateWithMs)) : QJsonValue();
}

// A label value in the exposition format: backslash, double quote and line feed escaped.
QByteArray LabelValue(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

QByteArray Number(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

class Exposition {
  public:
    void family(const char* name, const char* type, const char* help)
    {
        m_text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char* name, double value, const QByteArray& labels = {})
    {
        m_text += name;
        if (!labels.isEmpty())
            m_text += '{' + labels + '}';
        m_text += ' ' + Number(value) + '\n';
    }
    void single(const char* name, const char* type, const char* help, double value)
    {
        family(name, type, help);
        sample(name, value);
    }
    QByteArray text() const { return m_text; }

  private:
    QByteArray m_text;
};

} // namespace

QByteArray StatusJson(const RecorderStatus& s)
{
    QJsonObject o{
        {"station", s.station},
        {"data_file", s.dataFile},
        {"rows", s.rows},
        {"row_limit", s.rowLimit},
        {"link", s.linkUp ? "up" : "down"},
        {"since", TimeJson(s.linkSince)},
        {"last_frame_utc", TimeJson(s.lastFrame)},
        {"last_row_utc", TimeJson(s.lastRow)},
        {"updated_utc", TimeJson(s.updated)},
        // The recorder's clock: the page shows every time as the recorder's wall clock.
        {"utc_offset", s.updated.isValid() ? s.updated.toLocalTime().offsetFromUtc() : 0},
        {"frames_received", qint64(s.framesReceived)},
        {"frames_rejected", qint64(s.framesRejected)},
        {"rows_recorded", qint64(s.rowsRecorded)},
        {"rows_failed", qint64(s.rowsFailed)},
        {"forward", s.forward ? QJsonValue(QJsonObject{{"state", s.forward->state},
                                                       {"text", s.forward->text},
                                                       {"backlog_rows", s.forward->backlogRows}})
                              : QJsonValue()},
        {"mqtt", s.mqtt ? QJsonValue(QJsonObject{{"url", s.mqtt->url},
                                                 {"connected", s.mqtt->connected},
                                                 {"queued", s.mqtt->queued},
                                                 {"text", s.mqtt->text}})
                        : QJsonValue()},
    };
    QJsonArray channels;
    for (const ChannelStatus& c : s.channels)
        channels.append(QJsonObject{{"channel", c.channel},
                                    {"value", c.value ? QJsonValue(*c.value) : QJsonValue()},
                                    {"decimals", c.decimals},
                                    {"unit", c.unit},
                                    {"quantity", c.quantity},
                                    {"flags", QJsonArray::fromStringList(c.flags)},
                                    {"alarm", AlarmName(c.alarm)},
                                    {"time", TimeJson(c.time)},
                                    {"current", c.current}});
    o.insert("channels", channels);
    // Each source's own link: beside another source, one that fell silent leaves "link" up.
    QJsonArray sources;
    for (const SourceStatus& source : s.sources)
        sources.append(QJsonObject{{"name", source.name},
                                   {"first_channel", source.firstChannel},
                                   {"channels", source.channels},
                                   {"link", source.linkUp ? "up" : "down"}});
    o.insert("sources", sources);
    if (s.events) {
        QJsonArray events;
        for (const EventLine& e : *s.events)
            events.append(QJsonObject{{"time", TimeJson(e.time)}, {"text", e.text}});
        o.insert("events", events);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

ProcessFigures CurrentProcessFigures()
{
    ProcessFigures figures;
#ifdef __linux__
    // /proc/self/stat: the command name may hold blanks and parentheses, so the fields are
    // counted from the last ')'. Field 14/15 are utime/stime, 22 starttime (clock ticks since
    // boot), 24 rss (pages).
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return figures;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double hz = double(sysconf(_SC_CLK_TCK));
    const auto field = [&](int number) { return fields.value(number - 3).toDouble(); };
    if (fields.size() < 22 || hz <= 0)
        return figures;
    figures.cpuSeconds = (field(14) + field(15)) / hz;
    figures.residentBytes = field(24) * double(sysconf(_SC_PAGESIZE));
    QFile boot(QStringLiteral("/proc/stat"));
    if (boot.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : boot.readAll().split('\n'))
            if (line.startsWith("btime "))
                figures.startTimeSeconds = line.mid(6).trimmed().toDouble() + field(22) / hz;
    }
#endif
    return figures;
}

QByteArray MetricsText(const RecorderStatus& s, const ProcessFigures& process, const QDateTime& now)
{
    const auto youngerThan = [&now](const QDateTime& time, qint64 ms) {
        return time.isValid() && time.msecsTo(now) < ms;
    };
    Exposition e;
    e.family("varnik_reading", "gauge", "Latest reading of a channel, in its unit, while it is current.");
    // The quantity, where the meter says it, changes as rarely as the unit; the flags (HOLD, REL)
    // would start a new series at every press and are left to /api/status.
    for (const ChannelStatus& c : s.channels)
        if (c.value && c.current && youngerThan(c.time, ReadingFreshMs))
            e.sample("varnik_reading", *c.value,
                     "channel=\"" + QByteArray::number(c.channel) + "\",unit=\"" + LabelValue(c.unit.trimmed()) +
                         '"' +
                         (c.quantity.isEmpty() ? QByteArray() : ",quantity=\"" + LabelValue(c.quantity) + '"'));
    e.single("varnik_link_up", "gauge", "1 while the meter's frames are arriving, else 0.",
             s.linkUp && youngerThan(s.lastFrame, LinkSilenceMs) ? 1 : 0);
    // Each source's own link: beside another source, one that fell silent leaves varnik_link_up 1.
    if (!s.sources.isEmpty()) {
        e.family("varnik_source_link_up", "gauge", "1 while this source delivers, else 0.");
        for (const SourceStatus& source : s.sources)
            e.sample("varnik_source_link_up", source.linkUp ? 1 : 0,
                     "source=\"" + LabelValue(source.name) + "\",first_channel=\"" +
                         QByteArray::number(source.firstChannel) + '"');
    }
    const auto seconds = [](const QDateTime& time) { return time.isValid() ? time.toMSecsSinceEpoch() / 1000.0 : 0.0; };
    e.single("varnik_last_frame_timestamp_seconds", "gauge",
             "Arrival of the last valid frame, Unix time; 0 before the first.", seconds(s.lastFrame));
    e.single("varnik_last_row_timestamp_seconds", "gauge",
             "Time of the last row recorded in this run, Unix time; 0 before the first.", seconds(s.lastRow));
    e.single("varnik_frames_received_total", "counter", "Complete frames received from the meter.",
             double(s.framesReceived));
    e.single("varnik_frames_rejected_total", "counter",
             "Frames dropped for a wrong end byte or a channel out of range.", double(s.framesRejected));
    e.single("varnik_rows_recorded_total", "counter", "Rows written to the data files in this run.",
             double(s.rowsRecorded));
    e.single("varnik_rows_failed_total", "counter", "Due rows that could not be written in this run.",
             double(s.rowsFailed));
    e.single("varnik_data_file_rows", "gauge", "Rows the current data file holds.", double(s.rows));
    e.single("varnik_data_file_row_limit", "gauge", "Row limit of a data file.", double(s.rowLimit));
    if (s.forward)
        e.single("varnik_forward_backlog_rows", "gauge",
                 "Recorded rows the central database does not hold yet.", double(s.forward->backlogRows));
    if (s.mqtt)
        e.single("varnik_mqtt_connected", "gauge", "1 while connected to the MQTT broker, else 0.",
                 s.mqtt->connected ? 1 : 0);
    if (process.startTimeSeconds)
        e.single("process_start_time_seconds", "gauge",
                 "Start time of the process since unix epoch in seconds.", *process.startTimeSeconds);
    if (process.cpuSeconds)
        e.single("process_cpu_seconds_total", "counter", "Total user and system CPU time spent in seconds.",
                 *process.cpuSeconds);
    if (process.residentBytes)
        e.single("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
                 *process.residentBytes);
    return e.text();
}

} // namespace web
