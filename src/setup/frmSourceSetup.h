#pragma once
// frmSourceSetup, "Meter Source": where the program's readings come from. Opened modal by System
// Setup's "Meter Source..." button; the instrument's own settings (port, baud rate, meter type)
// stay in System Setup.
//
// Source: the instrument alone (no setting stored means this), a libsigrok device alone, or both
// (the instrument from channel 1, the device from its first channel on). For the device: the
// driver from the list meter-sigrok gives (read once per program run, under a busy cursor), the
// port (the serial devices of this host, as the port list shows them, or a typed path; empty for
// drivers that need none, like demo), extra libsigrok options as KEY=VALUE separated by spaces
// (serialcomm=2400/8n1 for a USB serial cable), how many of its channels are recorded, and the
// data file's channel its first one goes to.
//
// "Scan/Test" runs the device through meter-sigrok for up to TestMs beside the recording (which
// goes on) and shows its first readings (value, unit, flags) or the helper's error; a device the
// recording holds open is said to be busy. "Save" checks the choice (every field, the layout on
// the data file's channels, the driver and options through meter-sigrok) and refuses with a
// message naming the field, storing nothing; else it stores the sources as --source texts in the
// settings store (source_setup.h) and the main window builds its sources anew.
#include <QDialog>
#include <QStringList>
#include <QTimer>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProcess;
class QPushButton;
class QSpinBox;
struct SigrokLine;

class frmSourceSetup : public QDialog {
    Q_OBJECT
  public:
    // fileChannels: the data file's channels the sources must fit; 0 takes the main window's bound
    // data file (16 when none is bound).
    explicit frmSourceSetup(QWidget* parent = nullptr, int fileChannels = 0);
    ~frmSourceSetup() override;

    enum Kind { Instrument = 0, Device = 1, Both = 2 };
    static constexpr int TestMs = 5000;
    static constexpr int TestReadings = 6;

    // The --source texts the fields name; false with a message naming the field.
    bool Texts(QStringList* texts, QString* error) const;
    // Checks and stores (see above); false after the refusal's message.
    bool Save();
    bool Testing() const { return m_test != nullptr; }

    QComboBox* cboKind = nullptr;
    QComboBox* cboDriver = nullptr; // item data: the driver's name
    QLabel* lblDrivers = nullptr;   // why the list is empty, when it is
    QComboBox* cboPort = nullptr;   // editable
    QLineEdit* txtOptions = nullptr;
    QSpinBox* spnChannels = nullptr;
    QSpinBox* spnFirst = nullptr;
    QPushButton* cmdTest = nullptr;
    QPlainTextEdit* txtTest = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdCancel = nullptr;

  private:
    void LoadDrivers();
    void LoadPorts();
    void LoadStored();
    void KindChanged();
    void StartTest();
    void ReadTest();
    void EndTest(const QString& last);
    void ShowTestLine(const SigrokLine& line);

    int m_fileChannels;
    bool m_loaded = false; // the stored choice is shown: later changes are the user's
    QProcess* m_test = nullptr;
    QTimer m_testLimit;
    QStringList m_channelNames;
    int m_testReadings = 0;
    QString m_testError;
    QString m_tested;  // the source text the last Scan/Test ran
    QString m_refused; // what the device refused of it, if anything
};
