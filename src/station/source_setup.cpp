#include "station/source_setup.h"

#include "core/shared_state.h"
#include "platform/host_services.h"
#include "platform/serial_control.h"
#include "station/meter_source.h"
#include "station/recording_station.h"
#include "station/sigrok_source.h"

#include <QDir>

namespace {
const QString Group = QStringLiteral("Sources");
const QString CountKey = QStringLiteral("Count");
} // namespace

bool ParseSourceChoices(const QStringList& texts, QList<SourceChoice>* out, QString* error)
{
    QList<SourceChoice> choices;
    for (const QString& text : texts) {
        SourceChoice choice;
        if (!ParseSourceChoice(text, &choice, error))
            return false;
        choices << choice;
    }
    if (choices.isEmpty()) {
        SourceChoice meter;
        meter.text = QStringLiteral("meter");
        choices << meter;
    }
    *out = choices;
    return true;
}

ReadingSource* MakeSource(const SourceChoice& choice, SerialLink::Recovery recovery)
{
    if (choice.kind == SourceChoice::Kind::Meter)
        return new MeterSource(recovery);
    return new SigrokSource({choice.driver, choice.options, choice.channels});
}

void PlaceSources(RecordingStation& station, const QList<SourceChoice>& laidOut)
{
    for (int i = 0; i < station.SourceCount() && i < laidOut.size(); ++i) {
        ReadingSource& source = station.Source(i);
        source.FirstChannel = laidOut[i].firstChannel;
        if (laidOut[i].kind == SourceChoice::Kind::Meter)
            static_cast<MeterSource&>(source).Channels = station.SourceCount() > 1 ? laidOut[i].lastChannel : MaxChannel;
    }
}

QString SourceText(const SourceChoice& s, bool alone)
{
    if (s.kind == SourceChoice::Kind::Meter)
        return QStringLiteral("device %1 (port COM%2), %3 baud")
                   .arg(QDir::toNativeSeparators(SerialDeviceForPort(Shared.ComPort)))
                   .arg(Shared.ComPort)
                   .arg(Shared.BaudRate == 9600 ? 9600 : 2400) +
               (alone ? QString() : QStringLiteral(" on channels 1 to %1").arg(s.lastChannel));
    return QStringLiteral("%1 on channels %2 to %3").arg(s.text).arg(s.firstChannel).arg(s.lastChannel);
}

QStringList StoredSourceTexts()
{
    QStringList texts;
    const int count = Host().setting(Group, CountKey, QStringLiteral("0")).toInt();
    for (int i = 1; i <= std::min(count, ReadingFreshness::Sources); ++i) {
        const QString text = Host().setting(Group, QStringLiteral("Source%1").arg(i), QString()).trimmed();
        if (!text.isEmpty())
            texts << text;
    }
    return texts;
}

void StoreSourceTexts(const QStringList& texts)
{
    const int before = Host().setting(Group, CountKey, QStringLiteral("0")).toInt();
    for (int i = 0; i < texts.size(); ++i)
        Host().setSetting(Group, QStringLiteral("Source%1").arg(i + 1), texts[i]);
    for (int i = int(texts.size()) + 1; i <= std::min(before, ReadingFreshness::Sources); ++i)
        Host().setSetting(Group, QStringLiteral("Source%1").arg(i), QString());
    Host().setSetting(Group, CountKey, QString::number(texts.size()));
}
