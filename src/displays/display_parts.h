#pragma once
// Parts the three live displays share: channel pickers, labels that fit their text, the alarm
// indicator, the "data file full" note beside the record counter, and the steps every live
// display takes when it records a sample now or closes.
#include <QComboBox>
#include <QLabel>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <span>

class Odometer;
class QCheckBox;
class QGridLayout;
class QGroupBox;
class QPushButton;

// "Name(index)", the object name of one control of an indexed group.
QString Indexed(const char* name, int index);
// The channel a stored choice shows: a choice outside 1..16 (a hand-edited dispchan.dat or
// default.txt) shows channel 1.
int ShownChannel(int chosen);
// The reading a live display shows for channel c (1..16): the channel's latest reading while it is
// current (heard within the last 3 s), otherwise not a number, so that an old reading, or the 0 of a
// channel never heard, never shows as current: the LED panels show dashes, a gauge no needle, the
// strip chart a gap, and no alarm is raised for it.
double ShownReading(int c);
// The text of a gauge's or panel's reading where no number is shown.
inline QString NoReadingText() { return QStringLiteral("----"); }
// A unit code's name; empty for a code outside the unit table.
QString UnitText(int code);
// The unit shown for channel c (1..16): the meter's unit when its setup senses it, else the manual
// unit as stored.
QString ChannelUnit(int c);
QFont BoldFont(int pointSize);

// A label whose font follows its size so numbers and units grow with the window. The font fits at
// least `chars` characters and always the whole text (trailing blanks aside), so a unit of 10
// characters shows in full.
class FitLabel : public QLabel {
  public:
    FitLabel(int chars, Qt::Alignment align);
    // Sets the text and fits the font to it (the label's own setText does not fit).
    void showText(const QString& text);
    // True when the text (trailing blanks aside) fits the label's width at its font.
    bool textFits() const;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void fit();
    int m_chars;
    int m_fittedFor = 0;
};

// An editable channel picker: design-time text "0", items "1" to "8" once filled. Only a choice
// from its list stores a channel: typed text stores nothing, and the mouse wheel does not change
// it (the wheel scrolls the page instead).
class ChannelPicker : public QComboBox {
  public:
    // A choice from the list stores the chosen channel into *slot.
    ChannelPicker(const QString& name, int16_t* slot);
    void fillChannels();
    // Shows the stored choice as the picker's text (channel 1 for a choice outside 1..16) and
    // selects the list item of that channel, if it has one.
    void showChoice();
    // A stored choice outside 1..16 becomes the channel 1 the picker shows, so "Save" writes
    // what the user sees.
    void keepShownChoice();

  protected:
    void wheelEvent(QWheelEvent* event) override;

  private:
    int16_t* m_slot;
};

// The white-on-red alarm indicator ("High !!!" / "Low !!!"), hidden until an alarm shows it.
QLabel* MakeAlarmLabel(const QString& name);
// Shows text on the indicator, or hides and empties it when text is empty.
void ShowAlarm(QLabel* indicator, const QString& text);

// The note beside a display's record counter: shown while recording is off for want of a usable
// data file ("Data file full", or damaged) or while due rows cannot be written ("Rows not recorded
// (N)": a full disk, a locked file), the reason in its tool tip.
QLabel* MakeFullNote();
void ShowFullNote(QLabel* note);

// The live displays' line under their status row: the main window's short text about the central
// database once it has been unreachable for a minute (the main window's status bar is often
// covered by the displays); hidden otherwise. Object name "lblOutage".
QLabel* MakeOutageNote();
void ShowOutageNote(QLabel* note);

// "Save Data": records one row now through the main window; a full data file or a failed write is
// said in a message box.
void SaveDataNow();
// The main window's scan timer runs while a live display is loaded.
void StartScanTimer();
// After a live display cleared its open flag: with no live display left, recording pauses and the
// scan timer stops.
void PauseWhenNoDisplayOpen();
// The line beside a Save button that stays open after the press: "Saved at 10:04:05" (the tool
// tip names what was written), or "Not saved" with the reason in the tool tip.
QLabel* MakeSavedNote();
void ShowSaved(QLabel* note, bool saved, const QString& detail);
// Sets Shared.Paused and tells the program's recording why, when the state changes: RUN/PAUSE, the
// last display closed, the page setup shown, a display activated.
void PauseRecording(bool paused, const QString& why);

// A push button of the live displays' button rows.
QPushButton* MakeButton(const QString& name, const QString& caption);
// A display's refresh or one-shot link-start timer, named for tests; it calls `tick` on `owner`.
template <typename Owner>
QTimer* MakeTimer(Owner* owner, const char* name, int ms, bool singleShot, void (Owner::*tick)())
{
    auto* timer = new QTimer(owner);
    timer->setObjectName(QLatin1String(name));
    timer->setInterval(ms);
    timer->setSingleShot(singleShot);
    QObject::connect(timer, &QTimer::timeout, owner, tick);
    return timer;
}
// A frame of pickers labelled "Display 1", "Display 2", ...
QGroupBox* PickerFrame(const QString& caption, std::span<ChannelPicker* const> pickers);

// The row under the pages of the text and angular displays: alarm indicator, record counter with
// its "full" note, date, time, scan rate, "Alarm Sound", "RUN" and "Save Data" (which records a
// sample through SaveDataNow). The window connects "RUN" and adds its navigation buttons to the
// grid's columns 6 and 7. Object names: the given alarm and sound names, "Odometer1", "Label16",
// "Label15", "Label7(5)", "Label17", "Command5", "Command3", "lblOutage".
struct StatusArea {
    QWidget* widget = nullptr;
    QGridLayout* grid = nullptr;
    QLabel* alarm = nullptr;
    Odometer* odometer = nullptr;
    QLabel* fullNote = nullptr;
    QLabel* outage = nullptr;
    QLabel* date = nullptr;
    QLabel* time = nullptr;
    QLabel* scanCaption = nullptr;
    QLabel* scanRate = nullptr;
    QCheckBox* sound = nullptr;
    QPushButton* run = nullptr;
    QPushButton* saveData = nullptr;

    static StatusArea Build(const QString& alarmName, const QString& soundName);
    // At load: the scan rate, the counter settled, the alarm sound box.
    void showSetup() const;
    // Every tick: date, time, the alarm sound box, the RUN/PAUSE buttons, the counter and its note.
    void refresh() const;
};
// The date and time texts of the live displays ("04-01-2010", "17:05:09").
void ShowDateTime(QLabel* date, QLabel* time);
