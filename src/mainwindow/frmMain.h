#pragma once
// The main window: the program's host of its recording station (station/recording_station.h),
// whose parts it names as the program always has (the serial control MSComm1, the scan timer
// Timer1, the data binding Data1, FieldCount), and the menus that open every other window. It adds
// what only a window has: menus, placement, message boxes and the status bar.
// Other windows reach it through MainForm and use Start232, savedata, check_pause,
// RegisterPauseButton, BindDataFile/AnnounceNewDataFile (after a new data file), its Timer1, and
// Station() for the recording's state and commands (pause, notes).
// Constructing it is the window's load: placement and baud rate from the settings store, the
// data file bound (a missing one is created with 8 channels; a foreign one is reported and
// recording stays off), identity captions. Closing (close box, Exit, the watchdog's No) saves
// default.txt, the baud rate, unloads the other windows, saves the placement unless minimized
// and ends the program.

#include <QAbstractButton>
#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <array>
#include <cstdint>
#include <memory>

class DataFile;
struct ForwardStatus;
class MeterSource;
class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QStatusBar;
class PublishPanel;
class QTimer;
class RecordingStation;
class SerialControl;
enum class WindowId;

class frmMain : public QMainWindow {
    Q_OBJECT
  public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // Starts the serial link (opens and primes the port once; later calls reset the receiver), and
    // at its first call the station's other sources (libsigrok devices).
    void Start232();
    // Builds the station's sources anew from the settings store (group "Sources", written by the
    // meter source dialog): the old ones stop, the new ones start when the old ones had started.
    // Nothing changes when the sources and their channels stay as they are. A source that does not
    // fit the data file is said in the status bar and left out.
    void SourcesChanged();
    // The sources in use for a caption ("the instrument (RS-232)", "sigrok:demo on channels 1 to
    // 1"), or what keeps them from being used.
    QString SourcesInUse() const { return m_sourcesInUse; }
    // Records one row at once through the scan cycle; false + error when it could not be written.
    // For windows that need the scan timer stopped while they are open (the query windows,
    // Create New Data File): true when it ran and was stopped, and the recording logs paused with
    // why; ResumeScan starts it again and logs resumed.
    bool SuspendScan(const QString& why);
    void ResumeScan(const QString& why);
    bool savedata(QString* error = nullptr);
    // Paints the registered RUN/PAUSE buttons of the open displays, in the order chart, angular,
    // text: caption "PAUSE" on red while paused, else "RUN" on light green (Button palette role).
    void check_pause();

    enum class Display { Chart, Angular, Text };
    // A display hands its RUN/PAUSE button over once; a closed display's button is dropped.
    void RegisterPauseButton(Display owner, QAbstractButton* button);

    // Binds Data1 to DataPath(Shared.DataFileName) and derives FieldCount (for the scan cycle
    // too). On failure returns false with the reason and keeps the previous binding.
    bool BindDataFile(QString* error = nullptr);
    // The recording: its state (RecordingOffText, RowTrouble, Status, ...) and commands (Pause,
    // AddNote, ...).
    RecordingStation& Station() const { return *m_station; }
    // Tells the open displays that the data file changed (they re-select their pages).
    void AnnounceNewDataFile();
    // The closing procedure; runs once, later calls and the close that follows do nothing more.
    // `why` is the event log's stop text ("exit" for the user's own close, "signal" when the
    // system asked the program to stop).
    void CloseProgram(const QString& why = QStringLiteral("exit"));
    // True from the start of the closing procedure on.
    bool Closing() const { return m_closing; }

    QTimer* Timer1 = nullptr; // the station's 200 ms scan timer, off at load
    SerialControl* MSComm1 = nullptr; // null while the instrument is not among the sources
    DataFile* Data1 = nullptr;
    int16_t FieldCount = 0;

    // Placement in twips as read from the settings store, checked: non-numbers, non-positive sizes
    // and rectangles that no screen shows fall back to 1000, 1000, 9000, 6500 (600 by 433 pixels at
    // 96 dpi: wide enough for the status texts of a first run at the default font).
    struct Placement {
        int left = 1000;
        int top = 1000;
        int width = 9000;
        int height = 6500;
    };
    static Placement ReadPlacement();
    // The same rectangle in pixels on the primary screen.
    static QRect PlacementToPixels(const Placement& twips);

    // Tells the open displays that the system setup was saved (the chart follows its channel).
    void AnnounceSetupSaved();

  signals:
    void newDataFile();
    void setupSaved();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildMenus();
    void buildCentralArea();
    void buildStatusBar();
    void openWindow(WindowId id);
    void updateMenus();
    void updateClock();
    void loadDataFile();
    // A data file found damaged by the scan tick: recording off, and the user told.
    void stopDamagedRecording(const QString& path, const QString& damage);
    void applyIdentity();
    void savePlacement();
    // Forwards the data file's rows to the central database while settings "Forward"/"URL" is set.
    void followForwardSettings();
    void showForwardStatus(const QString& text, const QString& details);
    // Publishes live readings, rows and events while settings "MQTT"/"URL" is set.
    void followPublishSettings();
    // The sources the settings store names, laid out on the bound data file's channels.
    void followSourceSettings();

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QListWidget* List1 = nullptr;
    QPushButton* Command1 = nullptr;
    QStatusBar* sbStatusBar = nullptr;
    std::array<QLabel*, 3> Panels{};
    QLabel* lblForward = nullptr; // forwarding status; hidden while nothing is forwarded
    PublishPanel* lblMqtt = nullptr; // live readings to an MQTT broker; hidden while off
    QTimer* m_clock = nullptr;

    QMenu* mnuSetup = nullptr;
    QAction* mnuScanRate = nullptr;
    QAction* mnuFileBar1 = nullptr;
    QAction* mnuNewDB = nullptr;
    QAction* mnuFileBar2 = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* mnuMonitor = nullptr;
    QAction* mnuChart = nullptr;
    QAction* mnuAngular2 = nullptr;
    QAction* mnuTextDisplay = nullptr;
    QMenu* mnuReport = nullptr;
    QAction* mnuQuery = nullptr;
    QAction* mnuQuery_16 = nullptr;
    QAction* mnuEventLog = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuHelpAbout = nullptr;

    Placement m_readPlacement; // as read at load, and where that put the window
    QRect m_placedPixels;
    std::array<QPointer<QAbstractButton>, 3> m_pauseButtons;
    RecordingStation* m_station = nullptr;
    MeterSource* m_meter = nullptr; // null while the instrument is not among the sources
    QString m_sourceLayout;        // the sources built, with their channels; empty before any
    QString m_sourcesInUse;
    bool m_sourcesStarted = false; // Start232 has started them
    bool m_closing = false;
    bool m_fullShown = false; // the status bar shows the full file or failing rows
};

// The main window of the running program (set by its constructor, cleared when it is destroyed).
extern frmMain* MainForm;
