#include "core/config_files.h"

#include "core/cp1252.h"
#include "core/shared_state.h"
#include "core/statement_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

const QString UnitFile = QStringLiteral("unit2.dat");
const QString DisplayFile = QStringLiteral("display.dat");
const QString DefaultsFile = QStringLiteral("default.txt");
const QString ChannelsFile = QStringLiteral("dispchan.dat");

constexpr int UnitNameLength = 10;
constexpr int ManualUnitLength = 10;

// Labels of default.txt, one a line; the reader skips them.
const QString ComPortLabel = QStringLiteral("Comm. Port ");
const QString DataFileLabel = QStringLiteral("Data File Name");
const QString ScanRateLabel = QStringLiteral("System Scan Rate");
const QString MaxRecordsLabel = QStringLiteral("Max Record data");
const QString TextTypeLabel = QStringLiteral("Text Display type");
const QString AngularTypeLabel = QStringLiteral("Angular Display Channel");
const QString ChartChannelLabel = QStringLiteral("Chart Display Channel");
const QString Format01Label = QStringLiteral("Format 01 and Special Meter");

QString ShownPath(const QString& name)
{
    return QDir::toNativeSeparators(DataPath(name));
}

bool ReadFile(const QString& name, QByteArray* bytes, QString* error)
{
    const QString path = DataPath(name);
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("File not found: %1").arg(ShownPath(name));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read %1: %2").arg(ShownPath(name), file.errorString());
        return false;
    }
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("Cannot read %1: %2").arg(ShownPath(name), file.errorString());
        return false;
    }
    return true;
}

bool WriteFile(const QString& name, const QByteArray& bytes, QString* error)
{
    QSaveFile file(DataPath(name));
    QString reason;
    if (!file.open(QIODevice::WriteOnly)) {
        reason = file.errorString();
    } else if (file.write(bytes) != bytes.size() || file.size() != bytes.size()) {
        // QSaveFile counts a write the disk cut short (full, or over quota) as complete and would
        // rename the truncated file over the good one, so the size on disk is checked here.
        reason = file.error() != QFileDevice::NoError ? file.errorString()
                                                      : QStringLiteral("the disk took only part of the data");
        file.cancelWriting();
    } else if (!file.commit()) {
        reason = file.errorString();
    }
    if (!reason.isEmpty()) {
        *error = QStringLiteral("Cannot write %1: %2").arg(ShownPath(name), reason);
        return false;
    }
    return true;
}

QString InFile(const QString& name, const QString& what)
{
    return QStringLiteral("%1, %2").arg(ShownPath(name), what);
}

// Text the file cannot store makes the whole save fail before anything is written.
QString NotStorable(const QString& name, const QString& what)
{
    return QStringLiteral("Cannot write %1: %2").arg(ShownPath(name), what);
}

// --- display.dat records ---------------------------------------------------------------------

void PutDouble(char* at, double value)
{
    qToLittleEndian(std::bit_cast<quint64>(value), at);
}

double GetDouble(const char* at)
{
    return std::bit_cast<double>(qFromLittleEndian<quint64>(at));
}

void PutInt16(char* at, int16_t value)
{
    qToLittleEndian(value, at);
}

int16_t GetInt16(const char* at)
{
    return qFromLittleEndian<qint16>(at);
}

QString PaddedManualUnit(const QString& unit)
{
    return unit.left(ManualUnitLength).leftJustified(ManualUnitLength, QLatin1Char(' '));
}

bool EncodeRecord(const DispSetupRecord& r, char* at, QString* error)
{
    QByteArray unit;
    QChar bad;
    if (!ToCp1252(PaddedManualUnit(r.ManualUnit), &unit, &bad)) {
        *error = QStringLiteral("the unit \"%1\" holds the character '%2', which Windows-1252 cannot store")
                     .arg(r.ManualUnit, bad);
        return false;
    }
    PutDouble(at + 0, r.MinValue);
    PutDouble(at + 8, r.MaxValue);
    PutDouble(at + 16, r.LargeTickDelta);
    PutDouble(at + 24, r.SmallTickDelta);
    PutDouble(at + 32, r.LabelDelta);
    std::memcpy(at + 40, r.Reserved.data(), r.Reserved.size());
    PutInt16(at + 56, r.Decimals);
    PutDouble(at + 58, r.HighWarning);
    PutDouble(at + 66, r.LowWarning);
    PutDouble(at + 74, r.Scale);
    PutInt16(at + 82, r.UnitAutoSense ? -1 : 0);
    std::memcpy(at + 84, unit.constData(), ManualUnitLength);
    return true;
}

void DecodeRecord(const char* at, DispSetupRecord* r)
{
    r->MinValue = GetDouble(at + 0);
    r->MaxValue = GetDouble(at + 8);
    r->LargeTickDelta = GetDouble(at + 16);
    r->SmallTickDelta = GetDouble(at + 24);
    r->LabelDelta = GetDouble(at + 32);
    std::memcpy(r->Reserved.data(), at + 40, r->Reserved.size());
    r->Decimals = GetInt16(at + 56);
    r->HighWarning = GetDouble(at + 58);
    r->LowWarning = GetDouble(at + 66);
    r->Scale = GetDouble(at + 74);
    r->UnitAutoSense = GetInt16(at + 82) != 0;
    r->ManualUnit = FromCp1252(QByteArray(at + 84, ManualUnitLength));
}

const QByteArray AlarmBlockMark = QByteArrayLiteral("VKALARM1");

void EncodeAlarmBlock(char* at)
{
    std::memcpy(at, AlarmBlockMark.constData(), AlarmBlockMark.size());
    for (int r = 1; r <= DisplayRecordCount; ++r) {
        char* field = at + AlarmBlockMark.size() + (r - 1) * 10;
        PutDouble(field, Shared.DispSetup[r].AlarmDeadband);
        PutInt16(field + 8, Shared.DispSetup[r].AlarmDelay);
    }
}

bool HasAlarmBlock(const QByteArray& bytes, qsizetype at)
{
    return bytes.size() >= at + AlarmBlockSize && bytes.mid(at, AlarmBlockMark.size()) == AlarmBlockMark;
}

// The block at `at` into the shared state; false (nothing read) when `at` holds no block.
bool DecodeAlarmBlock(const QByteArray& bytes, qsizetype at)
{
    if (!HasAlarmBlock(bytes, at))
        return false;
    for (int r = 1; r <= DisplayRecordCount; ++r) {
        const char* field = bytes.constData() + at + AlarmBlockMark.size() + (r - 1) * 10;
        const double band = GetDouble(field);
        Shared.DispSetup[r].AlarmDeadband = std::isfinite(band) && band >= 0 ? band : -1;
        Shared.DispSetup[r].AlarmDelay = std::clamp<int16_t>(GetInt16(field + 8), 1, MaxAlarmDelay);
    }
    return true;
}

// True for a record that no setup page writes and a person would not type: a number that is not
// finite or is beyond any scale (magnitude above 1e15, or below 1e-12 but not 0), decimals
// outside 0..15, or a unit flag other than -1 and 0. Random bytes, or another file under this name.
bool LooksDamaged(const char* at)
{
    for (int offset : {0, 8, 16, 24, 32, 58, 66, 74}) {
        const double v = std::fabs(GetDouble(at + offset));
        if (!std::isfinite(v) || v > 1e15 || (v != 0 && v < 1e-12))
            return true;
    }
    const int16_t decimals = GetInt16(at + 56);
    const int16_t autoSense = GetInt16(at + 82);
    return decimals < 0 || decimals > 15 || (autoSense != 0 && autoSense != -1);
}

// Reads a whole statement file; `parse` reads its fields and fails with a "line N: ..." error.
template <typename Parse> bool ParseStatementFile(const QString& name, QString* error, Parse parse)
{
    QByteArray bytes;
    if (!ReadFile(name, &bytes, error))
        return false;
    StatementReader in(std::move(bytes));
    if (!parse(in)) {
        *error = InFile(name, *error);
        return false;
    }
    return true;
}

constexpr int DisplayChannelCount = 20;

// Notes of the last successful LoadDisplaySetup, LoadDefaults and LoadDisplayChannels.
QStringList DisplayNotes;
QStringList DefaultsNotes;
QStringList ChannelsNotes;

// The value when it lies in min..max, else `fallback`, noting the change.
int16_t Fitted(qint32 value, int min, int max, int16_t fallback, const QString& note, QStringList* notes)
{
    if (value >= min && value <= max)
        return static_cast<int16_t>(value);
    notes->append(note.arg(value));
    return fallback;
}

// The numbers of dispchan.dat, in file order.
template <typename Visit> void ForEachDisplayChannel(SharedState& s, Visit visit)
{
    visit(s.TextChan1);
    for (auto& c : s.TextChan2)
        visit(c);
    for (int i = 0; i < 4; ++i)
        visit(s.TextChan4[i]);
    for (int i = 0; i < 6; ++i)
        visit(s.TextChan6[i]);
    for (auto& c : s.AngChan2)
        visit(c);
    for (auto& c : s.AngChan4)
        visit(c);
}

} // namespace

bool LoadUnitNames(QString* error)
{
    std::array<QString, MaxUnitCode + 1> names;
    int16_t count = 0;
    const bool ok = ParseStatementFile(UnitFile, error, [&](StatementReader& in) {
        while (count <= MaxUnitCode && !in.atEnd()) {
            QString ignored;
            QString name;
            if (!in.readText(&ignored, error) || !in.readText(&name, error))
                return false;
            names[count++] = name.left(UnitNameLength);
        }
        return true;
    });
    if (!ok)
        return false;
    Shared.UnitName = std::move(names);
    Shared.UnitCount = count;
    return true;
}

bool LoadDisplaySetup(QString* error)
{
    const QString path = DataPath(DisplayFile);
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("Cannot create %1: %2").arg(ShownPath(DisplayFile), file.errorString());
            return false;
        }
        return true;
    }
    QByteArray bytes;
    if (!ReadFile(DisplayFile, &bytes, error))
        return false;
    // A record cut short by the end of the file is treated like one beyond it.
    const int complete = std::min<qsizetype>(DisplayRecordCount, bytes.size() / DisplayRecordSize);
    QStringList damaged;
    for (int r = 1; r <= complete; ++r) {
        const char* at = bytes.constData() + (r - 1) * DisplayRecordSize;
        DecodeRecord(at, &Shared.DispSetup[r]);
        if (LooksDamaged(at))
            damaged.append(QString::number(r));
    }
    if (!DecodeAlarmBlock(bytes, DisplayRecordCount * DisplayRecordSize))
        for (int r = 1; r <= DisplayRecordCount; ++r) {
            Shared.DispSetup[r].AlarmDeadband = DispSetupRecord{}.AlarmDeadband;
            Shared.DispSetup[r].AlarmDelay = DispSetupRecord{}.AlarmDelay;
        }
    DisplayNotes.clear();
    if (!damaged.isEmpty())
        DisplayNotes.append(QStringLiteral("The display setup of channel%1 %2 in display.dat holds numbers no setup "
                                           "would (a damaged file?): check it in the angular display's Page Setup.")
                                .arg(damaged.size() > 1 ? QStringLiteral("s") : QString(),
                                     damaged.join(QStringLiteral(", "))));
    return true;
}

bool LoadDefaults(QString* error)
{
    QString label;
    QString dataFileName;
    int16_t comPort = 0, format01 = 0;
    // Read wider than their variables: a hand-edited 50000 is put right below, not refused.
    int32_t maxRecords = 0, scanRate = 0, textType = 0, angularType = 0, chartChannel = 0;
    // A double quote inside the name, quoted or not, is refused: no save could write it back, and
    // taking `"Da"ta1.mdb"` as Da would record into another file than the one named.
    const auto storable = [&](const StatementReader& in) {
        if (!dataFileName.contains(QLatin1Char('"')) && !in.textAfterQuote())
            return true;
        *error = in.lineError(QStringLiteral("the data file name %1 holds a double quote, which this file cannot store")
                                  .arg(in.rawField()));
        return false;
    };
    const bool ok = ParseStatementFile(DefaultsFile, error, [&](StatementReader& in) {
        return in.readText(&label, error) && in.readInteger(&comPort, error) && in.readText(&label, error) &&
               in.readText(&dataFileName, error) && storable(in) && in.readText(&label, error) &&
               in.readInteger(&scanRate, error) && in.readText(&label, error) &&
               in.readInteger(&maxRecords, error) && in.readText(&label, error) &&
               in.readInteger(&textType, error) && in.readText(&label, error) &&
               in.readInteger(&angularType, error) && in.readText(&label, error) &&
               in.readInteger(&chartChannel, error) && in.readText(&label, error) &&
               in.readInteger(&format01, error);
    });
    if (!ok)
        return false;
    QStringList notes;
    Shared.ComPort = comPort;
    Shared.DataFileName = dataFileName;
    Shared.ScanRate =
        Fitted(scanRate, MinScanRate, MaxScanRate, MinScanRate, QStringLiteral("Scan rate %1 in default.txt taken as 1 s."), &notes);
    Shared.MaxRecords = maxRecords;
    Shared.TextDisplayType =
        Fitted(textType, 0, 6, 0,
               QStringLiteral("Text display type %1 in default.txt taken as the first layout."), &notes);
    Shared.AngularDisplayType =
        Fitted(angularType, 0, 2, 0,
               QStringLiteral("Angular display type %1 in default.txt taken as the first layout."), &notes);
    Shared.ChartDisplayChannel =
        Fitted(chartChannel, 1, MaxChannel, 1, QStringLiteral("Chart channel %1 in default.txt taken as 1."),
               &notes);
    DefaultsNotes = notes;
    Shared.Format01 = format01 == 1;
    Shared.SecondDisplay = false;
    return true;
}

bool LoadDisplayChannels(QString* error)
{
    std::array<int32_t, DisplayChannelCount> channels{};
    const bool ok = ParseStatementFile(ChannelsFile, error, [&](StatementReader& in) {
        return std::all_of(channels.begin(), channels.end(),
                           [&](int32_t& channel) { return in.readInteger(&channel, error); });
    });
    if (!ok)
        return false;
    QStringList refused;
    for (int32_t& channel : channels) {
        if (channel < 1 || channel > MaxChannel) {
            refused.append(QString::number(channel));
            channel = 1;
        }
    }
    ChannelsNotes.clear();
    if (!refused.isEmpty())
        ChannelsNotes.append(QStringLiteral("Channels %1 in dispchan.dat taken as 1.")
                                 .arg(refused.join(QStringLiteral(", "))));
    auto next = channels.cbegin();
    ForEachDisplayChannel(Shared, [&](int16_t& channel) { channel = static_cast<int16_t>(*next++); });
    return true;
}

QStringList ConfigurationNotes()
{
    return DisplayNotes + DefaultsNotes + ChannelsNotes;
}

bool LoadConfiguration(QString* error)
{
    DisplayNotes.clear();
    DefaultsNotes.clear();
    ChannelsNotes.clear();
    return LoadUnitNames(error) && LoadDisplaySetup(error) && LoadDefaults(error) &&
           LoadDisplayChannels(error);
}

bool SaveDefaults(QString* error)
{
    StatementWriter out;
    const auto number = [&](const QString& label, qint64 value) {
        out.addText(label, error);
        out.addNumber(value);
        out.endStatement();
    };
    number(ComPortLabel, Shared.ComPort);
    out.addText(DataFileLabel, error);
    if (!out.addText(Shared.DataFileName, error)) {
        *error = NotStorable(DefaultsFile, *error);
        return false;
    }
    out.endStatement();
    number(ScanRateLabel, Shared.ScanRate);
    number(MaxRecordsLabel, Shared.MaxRecords);
    number(TextTypeLabel, Shared.TextDisplayType);
    number(AngularTypeLabel, Shared.AngularDisplayType);
    number(ChartChannelLabel, Shared.ChartDisplayChannel);
    number(Format01Label, Shared.Format01 ? 1 : 0);
    return WriteFile(DefaultsFile, out.bytes(), error);
}

bool SaveDisplayChannels(QString* error)
{
    StatementWriter out;
    ForEachDisplayChannel(Shared, [&](int16_t& channel) {
        out.addNumber(channel);
        out.endStatement();
    });
    return WriteFile(ChannelsFile, out.bytes(), error);
}

bool SaveDisplaySetup(QString* error)
{
    constexpr qsizetype records = DisplayRecordCount * DisplayRecordSize;
    QByteArray bytes(records + AlarmBlockSize, '\0');
    for (int r = 1; r <= DisplayRecordCount; ++r) {
        if (!EncodeRecord(Shared.DispSetup[r], bytes.data() + (r - 1) * DisplayRecordSize, error)) {
            *error = NotStorable(DisplayFile, *error);
            return false;
        }
    }
    EncodeAlarmBlock(bytes.data() + records);
    if (QFileInfo::exists(DataPath(DisplayFile))) {
        QByteArray old;
        if (!ReadFile(DisplayFile, &old, error))
            return false;
        // What followed the records (or the block an earlier save wrote) stays, after the block.
        bytes.append(old.mid(HasAlarmBlock(old, records) ? records + AlarmBlockSize : records));
    }
    if (!WriteFile(DisplayFile, bytes, error))
        return false;
    for (int r = 1; r <= DisplayRecordCount; ++r)
        Shared.DispSetup[r].ManualUnit = PaddedManualUnit(Shared.DispSetup[r].ManualUnit);
    return true;
}
