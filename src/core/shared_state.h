#pragma once
// The process-wide channel model and setup values that every window shares.
// One instance, `Shared`, lives for the whole process; tests reset it with `Shared = SharedState{}`.
// Names follow the program's own variable names; per-channel arrays are indexed 0..16
// (index n is channel n; index 0 receives frames whose channel digit is 0).
#include "core/reading_freshness.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

constexpr int MaxChannel = 16;   // channels 1..16; arrays have 17 slots
constexpr int MaxUnitCode = 300; // unit table 0..300
constexpr double InvalidReading = 999999.0; // stored when a frame's checked digit is not 0..9

// One channel's display setup; its 94-byte file layout is in config_files.h.
struct DispSetupRecord {
    double MinValue = 0;
    double MaxValue = 0;
    double LargeTickDelta = 0;
    double SmallTickDelta = 0;
    double LabelDelta = 0;
    std::array<unsigned char, 16> Reserved{}; // two unused 8-byte fields, written back as read
    int16_t Decimals = 0;
    double HighWarning = 0;
    double LowWarning = 0;
    // A channel that no display.dat record configures reads unchanged (Scale 1) with the unit the
    // meter sends; a zero Scale would turn every reading of it into 0.
    double Scale = 1;
    bool UnitAutoSense = true;
    QString ManualUnit; // 10 characters, blank-padded, once read from or written to display.dat
    // Alarm events (acquisition/alarm_state.h): the margin inside a limit that brings a channel
    // back to normal, negative for 1% of the scale span; the rows a new state must hold.
    double AlarmDeadband = -1;
    int16_t AlarmDelay = 1;
};

// The meter's mode beside a channel's reading, for a source that reports one (a libsigrok meter):
// the measured quantity as libsigrok names it ("voltage", "current", "resistance", "temperature",
// ...) and the meter's flags in its order ("dc", "ac", "hold", "rel", "min", "max", "auto", ...).
// Empty for the instrument, which says neither. HOLD shows while the meter holds its display,
// though the channel then gets no reading.
struct ChannelMode {
    QString quantity;
    QStringList flags;
    bool operator==(const ChannelMode&) const = default;
};

struct SharedState {
    // Channel readings, written by the frame decoder.
    std::array<double, MaxChannel + 1> ChanValue{};
    std::array<int16_t, MaxChannel + 1> ChanUnit{};
    std::array<int16_t, MaxChannel + 1> ChanDecimals{};
    // Set by the sources that know it, kept until the source stops (see ChannelMode).
    std::array<ChannelMode, MaxChannel + 1> ChanMode{};
    std::array<std::array<int16_t, 16>, MaxChannel + 1> FrameStore{};
    int16_t FrameChannel = 0;
    std::array<int16_t, 16> FrameDigits{};
    double CurrentScale = 1.0;
    bool SecondDisplay = false;

    // Unit table and number formats.
    std::array<QString, MaxUnitCode + 1> UnitName;
    int16_t UnitCount = 0;
    std::array<QString, MaxChannel + 1> DecimalFormat; // by decimals: "###0", "###0.0", ...; empty = general form

    // Per-channel display setup, elements 1..16 (element 0 unused).
    std::array<DispSetupRecord, MaxChannel + 1> DispSetup;

    // System setup (default.txt and the settings store).
    int16_t ComPort = 0;
    int32_t BaudRate = 0;
    QString DataFileName;
    int16_t ScanRate = 0;
    int32_t MaxRecords = 65535;
    int16_t TextDisplayType = 0;
    int16_t AngularDisplayType = 0;
    int16_t ChartDisplayChannel = 0;
    bool Format01 = false;

    // Display channel choices (dispchan.dat).
    int16_t TextChan1 = 0;
    std::array<int16_t, 2> TextChan2{};
    std::array<int16_t, 8> TextChan4{};
    std::array<int16_t, 8> TextChan6{};
    std::array<int16_t, 3> AngChan2{};
    std::array<int16_t, 4> AngChan4{};

    // Run state.
    bool Paused = false;
    bool DataReceived = false;
    bool TextDispOpen = false;
    bool AngularDispOpen = false;
    bool ChartDispOpen = false;
    bool AlarmSound = true;
    int32_t RecordCount = 0;
    // Which readings are current: fed by the frame decoder, read by the scan cycle.
    ReadingFreshness Freshness;

    // Identity, set once at start-up from the executable's name.
    bool GenericIdentity = false;
    QString ExeTitle;
    QString VersionText;
    QString ProductText;

    // Items owned by the displays and the query windows.
    int16_t TextTab = 0;
    bool TextTabSet = false;
    int16_t AngTab = 0;
    bool AngTabSet = false;
    double ChartValue = 0;
    bool ChartShown = false;

    // Folder that holds the executable; configuration and data files lie in its "data" folder.
    QString AppPath;
    // Another folder for the configuration and data files (the recorder's --data-dir); empty =
    // AppPath's "data" folder.
    QString DataFolder;
};

extern SharedState Shared;

// Full path of a file in the data folder: AppPath + "/data/" + name, or DataFolder + "/" + name.
QString DataPath(const QString& fileName);

// Empty when `name` names a file in the data folder itself; otherwise the message that refuses it
// and names it: a name with a folder part ("../x.mdb", "/tmp/x.mdb", "sub\x.mdb") would put the
// file outside the data folder; a leading dot would hide it, a control character would split the
// lines and lists that name it. The create-file dialog and the main window's load ask it.
QString DataFolderNameRefusal(const QString& name);
