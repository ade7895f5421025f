// The four configuration file readers. Byte 0 chooses the file (unit2.dat, display.dat,
// default.txt, dispchan.dat); the rest is its content. What loads and then saves must load again
// to the same values, with nothing left to put right.
#include "core/config_files.h"
#include "core/shared_state.h"
#include "fuzz_support.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <cstring>
#include <tuple>

namespace {

void WriteWhole(const QString& name, const QByteArray& bytes)
{
    QFile file(DataPath(name));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "scratch file");
    FUZZ_CHECK(file.write(bytes) == bytes.size(), "scratch file write");
}

bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameRecord(const DispSetupRecord& a, const DispSetupRecord& b)
{
    return SameBits(a.MinValue, b.MinValue) && SameBits(a.MaxValue, b.MaxValue) &&
           SameBits(a.LargeTickDelta, b.LargeTickDelta) && SameBits(a.SmallTickDelta, b.SmallTickDelta) &&
           SameBits(a.LabelDelta, b.LabelDelta) && a.Reserved == b.Reserved && a.Decimals == b.Decimals &&
           SameBits(a.HighWarning, b.HighWarning) && SameBits(a.LowWarning, b.LowWarning) &&
           SameBits(a.Scale, b.Scale) && a.UnitAutoSense == b.UnitAutoSense && a.ManualUnit == b.ManualUnit &&
           SameBits(a.AlarmDeadband, b.AlarmDeadband) && a.AlarmDelay == b.AlarmDelay;
}

auto Defaults(const SharedState& s)
{
    return std::make_tuple(s.ComPort, s.DataFileName, s.ScanRate, s.MaxRecords, s.TextDisplayType,
                           s.AngularDisplayType, s.ChartDisplayChannel, s.Format01);
}

auto DisplayChannels(const SharedState& s)
{
    return std::make_tuple(s.TextChan1, s.TextChan2, s.TextChan4, s.TextChan6, s.AngChan2, s.AngChan4);
}

// A fresh shared state in the same scratch folder. (Not written inside the template below: GCC 12
// fails on it there with an internal error.)
void ResetShared()
{
    const QString folder = FuzzScratchFolder();
    Shared = SharedState{};
    Shared.DataFolder = folder;
}

// The display.dat records a note names as damaged ("... channels 2, 5 in display.dat ...").
QSet<int> NotedRecords(const QStringList& notes)
{
    static const QRegularExpression listed(QStringLiteral("channels? ([0-9, ]+) in display.dat"));
    QSet<int> records;
    for (const QString& note : notes)
        for (const QString& n : listed.match(note).captured(1).split(QLatin1Char(','), Qt::SkipEmptyParts))
            records.insert(n.trimmed().toInt());
    return records;
}

// Loads, saves and loads again; `same` compares the state after the save with the state reloaded.
// A save puts right what the load noted, except display.dat records that look damaged: those are
// kept as read (the user checks them), so the reload may note them again, and no others.
template <typename Load, typename Save, typename Same>
void RoundTrip(const QString& file, Load load, Save save, Same same)
{
    QString error;
    if (!load(&error)) {
        FUZZ_CHECK(!error.isEmpty(), "a load failed without saying why");
        return;
    }
    const QSet<int> damaged = NotedRecords(ConfigurationNotes().filter(file));
    if (!save(&error)) {
        FUZZ_CHECK(!error.isEmpty(), "a save failed without saying why");
        return;
    }
    const SharedState saved = Shared;
    ResetShared();
    error.clear();
    if (!load(&error)) {
        std::fprintf(stderr, "reload: %s\n", qPrintable(error));
        FUZZ_CHECK(false, "a saved file does not load again");
    }
    const QStringList notes = ConfigurationNotes().filter(file);
    FUZZ_CHECK(notes.size() == (NotedRecords(notes).isEmpty() ? 0 : 1), "notes on a saved file");
    FUZZ_CHECK(damaged.contains(NotedRecords(notes)), "a saved file needs putting right when loaded again");
    FUZZ_CHECK(same(saved, Shared), "a saved file loads to other values");
}

int FuzzConfig(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t selector = in.byte();
    ResetShared();
    const QByteArray content = in.rest();
    QString error;
    switch (selector % 4) {
    case 0: {
        WriteWhole(QStringLiteral("unit2.dat"), content);
        if (LoadUnitNames(&error)) {
            FUZZ_CHECK(Shared.UnitCount >= 0 && Shared.UnitCount <= MaxUnitCode + 1, "unit count");
            for (const QString& name : Shared.UnitName)
                FUZZ_CHECK(name.size() <= 10, "a unit name longer than 10 characters");
        } else {
            FUZZ_CHECK(!error.isEmpty(), "a load failed without saying why");
        }
        break;
    }
    case 1: {
        WriteWhole(QStringLiteral("display.dat"), content);
        RoundTrip(QStringLiteral("display.dat"), LoadDisplaySetup, SaveDisplaySetup, [](const SharedState& a, const SharedState& b) {
            for (int r = 1; r <= DisplayRecordCount; ++r)
                if (!SameRecord(a.DispSetup[r], b.DispSetup[r]))
                    return false;
            return true;
        });
        // Bytes beyond the eight records and the alarm block are kept, after the block.
        constexpr qsizetype records = DisplayRecordCount * DisplayRecordSize;
        const bool block = content.size() >= records + AlarmBlockSize && content.mid(records, 8) == "VKALARM1";
        QFile file(DataPath(QStringLiteral("display.dat")));
        if (content.size() > records && file.open(QIODevice::ReadOnly))
            FUZZ_CHECK(file.readAll().mid(records + AlarmBlockSize) == content.mid(block ? records + AlarmBlockSize : records),
                       "display.dat lost the bytes after its records");
        break;
    }
    case 2:
        WriteWhole(QStringLiteral("default.txt"), content);
        RoundTrip(QStringLiteral("default.txt"), LoadDefaults, SaveDefaults,
                  [](const SharedState& a, const SharedState& b) { return Defaults(a) == Defaults(b); });
        break;
    default:
        WriteWhole(QStringLiteral("dispchan.dat"), content);
        RoundTrip(QStringLiteral("dispchan.dat"), LoadDisplayChannels, SaveDisplayChannels, [](const SharedState& a, const SharedState& b) {
            return DisplayChannels(a) == DisplayChannels(b);
        });
        break;
    }
    return 0;
}

} // namespace

VARNIK_FUZZ_TARGET("config", FuzzConfig)
