#include "publish/payloads.h"

#include "core/number_format.h"
#include "core/shared_state.h"
#include "datafile/data_file.h"
#include "datafile/event_log.h"
#include "publish/broker_url.h"

#include <charconv>
#include <cmath>

namespace {

void AppendString(QByteArray& out, const QString& text)
{
    out.append('"');
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.append('\\').append(c);
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out.append(escaped);
        } else {
            out.append(c);
        }
    }
    out.append('"');
}

// The shortest text that reads back as the same double; JSON has no NaN or infinity.
void AppendNumber(QByteArray& out, double value)
{
    if (!std::isfinite(value)) {
        out.append("null");
        return;
    }
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end - buffer);
}

void AppendKey(QByteArray& out, const char* key)
{
    if (!out.endsWith('{'))
        out.append(',');
    out.append('"').append(key).append("\":");
}

// "value" (null and "invalid": true for the meter's invalid marker) and "unit".
void AppendValueAndUnit(QByteArray& out, double value, const QString& unit)
{
    AppendKey(out, "value");
    if (value == InvalidReading) {
        out.append("null");
        AppendKey(out, "invalid");
        out.append("true");
    } else {
        AppendNumber(out, value);
    }
    AppendKey(out, "unit");
    AppendString(out, unit);
}

} // namespace

Topics::Topics(const QString& prefix, const QString& stationName)
    : station(TopicStation(stationName)), m_base(prefix + QLatin1Char('/') + station)
{
    status = m_base + QStringLiteral("/status");
    row = m_base + QStringLiteral("/row");
    event = m_base + QStringLiteral("/event");
}

QString Topics::Channel(int n) const
{
    return m_base + QStringLiteral("/channel/%1").arg(n);
}

QString Topics::Discovery(int n) const
{
    return QStringLiteral("homeassistant/sensor/varnik_%1/ch%2/config").arg(station).arg(n);
}

Reading CurrentReading(int n, const QDateTime& time)
{
    Reading r;
    r.time = time;
    r.value = Shared.ChanValue[n];
    const int decimals = Shared.ChanDecimals[n];
    if (r.value != InvalidReading && decimals >= 0 && decimals < int(Shared.DecimalFormat.size())) {
        bool ok = false;
        const double rounded = FormatNumber(r.value, Shared.DecimalFormat[decimals]).toDouble(&ok);
        if (ok)
            r.value = rounded;
    }
    const DispSetupRecord& setup = Shared.DispSetup[n];
    const int code = Shared.ChanUnit[n];
    if (!setup.UnitAutoSense)
        r.unit = setup.ManualUnit.trimmed();
    else if (code >= 0 && code <= MaxUnitCode)
        r.unit = Shared.UnitName[code].trimmed();
    return r;
}

QByteArray UtcText(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toLatin1();
}

QByteArray ReadingPayload(const Reading& reading)
{
    QByteArray out("{");
    AppendValueAndUnit(out, reading.value, reading.unit);
    AppendKey(out, "time");
    AppendString(out, QString::fromLatin1(UtcText(reading.time)));
    return out.append('}');
}

QByteArray RowPayload(const DataRow& row, qint64 rowNumber, const QString& dataFile)
{
    QByteArray out("{");
    AppendKey(out, "row");
    out.append(QByteArray::number(rowNumber));
    AppendKey(out, "data_file");
    AppendString(out, dataFile);
    AppendKey(out, "date");
    AppendString(out, row.date.toString(Qt::ISODate));
    AppendKey(out, "time");
    AppendString(out, row.time.toString(QStringLiteral("HH:mm:ss")));
    AppendKey(out, "utc");
    AppendString(out, QString::fromLatin1(UtcText(QDateTime(row.date, row.time))));
    AppendKey(out, "channels");
    out.append('{');
    for (qsizetype i = 0; i < row.chan.size(); ++i) {
        if (i > 0)
            out.append(',');
        out.append('"').append(QByteArray::number(i + 1)).append("\":{");
        AppendValueAndUnit(out, row.chan[i], i < row.unit.size() ? row.unit[i].trimmed() : QString());
        out.append('}');
    }
    return out.append("}}");
}

QByteArray EventPayload(const LoggedEvent& event, const QString& dataFile)
{
    QByteArray out("{");
    AppendKey(out, "data_file");
    AppendString(out, dataFile);
    AppendKey(out, "date");
    AppendString(out, event.date.toString(Qt::ISODate));
    AppendKey(out, "time");
    AppendString(out, event.time.toString(QStringLiteral("HH:mm:ss")));
    AppendKey(out, "utc");
    AppendString(out, event.UtcText());
    AppendKey(out, "kind");
    AppendString(out, event.kind);
    AppendKey(out, "channel");
    out.append(event.channel ? QByteArray::number(*event.channel) : QByteArray("null"));
    AppendKey(out, "value");
    if (event.value)
        AppendNumber(out, *event.value);
    else
        out.append("null");
    AppendKey(out, "text");
    AppendString(out, event.text);
    return out.append('}');
}

QByteArray DiscoveryPayload(const Topics& topics, int n, const QString& unit)
{
    QByteArray out("{");
    const auto field = [&out](const char* key, const QString& value) {
        AppendKey(out, key);
        AppendString(out, value);
    };
    field("name", QStringLiteral("Channel %1").arg(n));
    field("state_topic", topics.Channel(n));
    field("value_template", QStringLiteral("{{ value_json.value }}"));
    if (!unit.isEmpty())
        field("unit_of_measurement", unit);
    field("unique_id", QStringLiteral("varnik_%1_ch%2").arg(topics.station).arg(n));
    field("availability_topic", topics.status);
    AppendKey(out, "device");
    out.append("{\"identifiers\":[");
    AppendString(out, QStringLiteral("varnik_") + topics.station);
    out.append("],");
    out.append("\"name\":");
    AppendString(out, topics.station);
    return out.append("}}");
}

bool ReadingThrottle::Offer(int n, qint64 nowMs)
{
    if (n < 1 || n >= int(m_slots.size()))
        return false;
    Slot& slot = m_slots[n];
    if (slot.sentMs < 0 || nowMs - slot.sentMs >= IntervalMs) {
        slot = {nowMs, -1};
        return true;
    }
    slot.heldMs = nowMs;
    return false;
}

QList<int> ReadingThrottle::TakeDue(qint64 nowMs)
{
    QList<int> due;
    for (int n = 1; n < int(m_slots.size()); ++n) {
        Slot& slot = m_slots[n];
        if (slot.heldMs >= 0 && nowMs - slot.heldMs >= IntervalMs) {
            slot = {nowMs, -1};
            due.append(n);
        }
    }
    return due;
}
