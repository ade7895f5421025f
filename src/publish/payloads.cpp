#include "publish/payloads.h"

#include "core/number_format.h"
#include "core/recorded_reading.h"
#include "core/shared_state.h"
#include "core/unit_codes.h"
#include "datafile/data_file.h"
#include "datafile/event_log.h"
#include "publish/broker_url.h"

#include <charconv>
#include <cstdio>
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

Topics::Topics(const QString& prefix, const QString& stationName, const QString& discoveryPrefix)
    : stationName(stationName), station(StationId(stationName)), m_base(prefix + QLatin1Char('/') + station),
      m_discoveryBase(discoveryPrefix + QStringLiteral("/sensor/varnik_") + station)
{
    status = m_base + QStringLiteral("/status");
    link = m_base + QStringLiteral("/link");
    row = m_base + QStringLiteral("/row");
    event = m_base + QStringLiteral("/event");
}

QString Topics::Channel(int n) const
{
    return m_base + QStringLiteral("/channel/%1").arg(n);
}

QString Topics::Discovery(int n) const
{
    return m_discoveryBase + QStringLiteral("/ch%1/config").arg(n);
}

QString Topics::AnyChannel() const
{
    return m_base + QStringLiteral("/channel/+");
}

QString Topics::AnyDiscovery() const
{
    return m_discoveryBase + QStringLiteral("/+/config");
}

int Topics::ChannelOf(const QString& topic) const
{
    QStringView number;
    const QString channel = m_base + QStringLiteral("/channel/");
    const QString discovery = m_discoveryBase + QStringLiteral("/ch");
    if (topic.startsWith(channel))
        number = QStringView(topic).mid(channel.size());
    else if (topic.startsWith(discovery) && topic.endsWith(QStringLiteral("/config")))
        number = QStringView(topic).mid(discovery.size(), topic.size() - discovery.size() - 7);
    bool ok = false;
    const int n = number.toInt(&ok);
    return ok && n >= 1 && n <= MaxChannel && number == QString::number(n) ? n : 0;
}

Reading CurrentReading(int n, const QDateTime& time)
{
    Reading r;
    r.time = time;
    if (n >= 1 && n <= MaxChannel) {
        r.quantity = Shared.ChanMode[n].quantity;
        r.flags = Shared.ChanMode[n].flags;
    }
    RecordedReading recorded;
    if (RecordedReadingOf(n, &recorded)) {
        r.value = recorded.value;
        r.unit = recorded.unit.trimmed();
        r.decimals = recorded.decimals;
    } else {
        r.value = n >= 1 && n <= MaxChannel ? Shared.ChanValue[n] : InvalidReading;
    }
    return r;
}

QByteArray UtcText(const QDateTime& time)
{
    // Every reading's time goes through here: the fields are put together by hand, which costs a
    // fraction of a formatted QDateTime text.
    if (!time.isValid())
        return {};
    constexpr qint64 DayMs = 86400000;
    const qint64 ms = time.toMSecsSinceEpoch();
    const qint64 days = ms >= 0 ? ms / DayMs : -((-ms + DayMs - 1) / DayMs);
    const qint64 inDay = ms - days * DayMs;
    const QDate date = QDate(1970, 1, 1).addDays(days);
    if (date.year() < 1 || date.year() > 9999)
        return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toLatin1();
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", date.year(),
                                     date.month(), date.day(), int(inDay / 3600000), int(inDay / 60000 % 60),
                                     int(inDay / 1000 % 60), int(inDay % 1000));
    return QByteArray(text, length);
}

QByteArray ReadingPayload(const Reading& reading)
{
    QByteArray out("{");
    AppendValueAndUnit(out, reading.value, reading.unit);
    AppendKey(out, "time");
    out.append('"').append(UtcText(reading.time)).append('"');
    if (!reading.quantity.isEmpty() || !reading.flags.isEmpty()) {
        AppendKey(out, "quantity");
        AppendString(out, reading.quantity);
        AppendKey(out, "flags");
        out.append('[');
        for (qsizetype i = 0; i < reading.flags.size(); ++i) {
            if (i > 0)
                out.append(',');
            AppendString(out, reading.flags[i]);
        }
        out.append(']');
    }
    if (!reading.current)
        out.append(",\"current\":false");
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

SensorClass SensorClassOf(const QString& givenQuantity, const QString& givenUnit)
{
    // Home Assistant's sensor device classes for libsigrok's quantities, with the units each takes.
    struct Class {
        const char* quantity;
        const char* deviceClass;
        std::initializer_list<const char*> units;
    };
    static const Class classes[] = {
        {"voltage", "voltage", {"V", "mV", "kV", "µV", "MV"}},
        {"current", "current", {"A", "mA"}},
        {"frequency", "frequency", {"Hz", "kHz", "MHz", "GHz"}},
        {"temperature", "temperature", {"°C", "°F", "K"}},
        {"power", "power", {"W", "kW", "mW", "MW"}},
        {"apparent_power", "apparent_power", {"VA"}},
        {"energy", "energy", {"Wh", "kWh", "MWh"}},
        {"rh", "humidity", {"%"}},
        {"spl", "sound_pressure", {"dB", "dBA"}},
        {"pressure", "pressure", {"Pa", "hPa", "kPa", "bar", "cbar", "mbar", "mmHg", "inHg", "psi"}},
        {"mass", "weight", {"g", "kg", "mg", "µg", "oz", "lb", "st"}},
        {"wind_speed", "wind_speed", {"m/s", "km/h", "mph", "kn"}},
        {"co", "carbon_monoxide", {"ppm"}},
        {"time", "duration", {"s", "ms", "min", "h", "d"}},
        {"pulse_width", "duration", {"s", "ms"}},
        {"power_factor", "power_factor", {"%", ""}},
    };
    const QString recorded = givenUnit.trimmed();
    const QString quantity = givenQuantity.isEmpty() ? QuantityOfUnit(recorded) : givenQuantity;
    // "VDC" is a voltage in V to Home Assistant (AC/DC is in the channel's attributes); "%RH" a
    // humidity in %.
    QString unit = UnitWithoutCoupling(recorded);
    if (unit == QLatin1String("%RH"))
        unit = QStringLiteral("%");
    for (const Class& c : classes) {
        if (quantity != QLatin1String(c.quantity))
            continue;
        for (const char* taken : c.units)
            if (unit == QString::fromUtf8(taken))
                return {QString::fromLatin1(c.deviceClass), unit,
                        quantity == QLatin1String("energy") ? QStringLiteral("total") : QStringLiteral("measurement")};
    }
    return {QString(), recorded, QStringLiteral("measurement")};
}

QByteArray DiscoveryPayload(const Topics& topics, int n, const ChannelTraits& traits)
{
    QByteArray out("{");
    const auto field = [&out](const char* key, const QString& value) {
        AppendKey(out, key);
        AppendString(out, value);
    };
    const auto availability = [&out](const QString& topic, const char* available, const char* notAvailable) {
        out.append("{\"topic\":");
        AppendString(out, topic);
        out.append(",\"payload_available\":\"").append(available);
        out.append("\",\"payload_not_available\":\"").append(notAvailable).append("\"}");
    };
    field("name", QStringLiteral("Channel %1").arg(n));
    field("state_topic", topics.Channel(n));
    field("value_template", QStringLiteral("{{ value_json.value }}"));
    // The whole reading (its unit as recorded, time, quantity, flags) as the entity's attributes.
    field("json_attributes_topic", topics.Channel(n));
    const SensorClass sensor = SensorClassOf(traits.quantity, traits.unit);
    if (!sensor.unit.isEmpty())
        field("unit_of_measurement", sensor.unit);
    if (!sensor.deviceClass.isEmpty())
        field("device_class", sensor.deviceClass);
    field("state_class", sensor.stateClass);
    if (traits.decimals >= 0) {
        AppendKey(out, "suggested_display_precision");
        out.append(QByteArray::number(traits.decimals));
    }
    field("unique_id", QStringLiteral("varnik_%1_ch%2").arg(topics.station).arg(n));
    // Unavailable while the recorder is gone and while the meter is silent.
    AppendKey(out, "availability");
    out.append('[');
    availability(topics.status, "online", "offline");
    out.append(',');
    availability(topics.link, "up", "down");
    // Beside other sources, a silent meter's channel says so itself: its last reading again,
    // with "current":false.
    out.append(",{\"topic\":");
    AppendString(out, topics.Channel(n));
    AppendKey(out, "value_template");
    AppendString(out, QStringLiteral("{{ 'stale' if value_json.current is defined and not value_json.current else "
                                     "'current' }}"));
    out.append(",\"payload_available\":\"current\",\"payload_not_available\":\"stale\"}");
    out.append(']');
    field("availability_mode", QStringLiteral("all"));
    AppendKey(out, "origin");
    out.append('{');
    field("name", QStringLiteral("Varnik"));
    field("sw_version", QStringLiteral(VARNIK_VERSION_TEXT));
    out.append('}');
    AppendKey(out, "device");
    out.append("{\"identifiers\":[");
    AppendString(out, QStringLiteral("varnik_") + topics.station);
    out.append(']');
    field("name", topics.stationName);
    field("manufacturer", QStringLiteral("Varnik Instruments"));
    field("model", QStringLiteral("Varnik Data Acquisition Software"));
    field("sw_version", QStringLiteral(VARNIK_VERSION_TEXT));
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
