#include "displays/display_parts.h"

#include "mainwindow/frmMain.h"
#include "controls/odometer.h"
#include "acquisition/scan_cycle.h"
#include "core/shared_state.h"
#include "platform/host_services.h"
#include "station/recording_station.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <QLineEdit>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <limits>

QString Indexed(const char* name, int index)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

int ShownChannel(int chosen)
{
    return chosen >= 1 && chosen <= MaxChannel ? chosen : 1;
}

double ShownReading(int c)
{
    const int n = ShownChannel(c);
    return Shared.Freshness.Current(n) ? Shared.ChanValue[n] : std::numeric_limits<double>::quiet_NaN();
}

QString UnitText(int code)
{
    return code >= 0 && code <= MaxUnitCode ? Shared.UnitName[code] : QString();
}

QString ChannelUnit(int c)
{
    const DispSetupRecord& setup = Shared.DispSetup[ShownChannel(c)];
    return setup.UnitAutoSense ? UnitText(Shared.ChanUnit[ShownChannel(c)]) : setup.ManualUnit;
}

QFont BoldFont(int pointSize)
{
    QFont f;
    f.setPointSize(pointSize);
    f.setBold(true);
    return f;
}

FitLabel::FitLabel(int chars, Qt::Alignment align) : m_chars(chars)
{
    QLabel::setAlignment(align | Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    setMinimumSize(12, 12);
}

void FitLabel::showText(const QString& text)
{
    if (text == QLabel::text())
        return;
    QLabel::setText(text);
    // Refit only when the text outgrows or falls back within the width fitted for.
    const int wanted = std::max(m_chars, int(text.trimmed().size()));
    if (wanted != m_fittedFor)
        fit();
}

void FitLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    fit();
}

void FitLabel::fit()
{
    const QString shown = text().trimmed();
    const int chars = std::max(m_chars, int(shown.size()));
    m_fittedFor = chars;
    int px = std::clamp(int(std::min(height() * 0.45, width() / (chars * 0.62))), 7, 160);
    QFont f = font();
    f.setPixelSize(px);
    // The estimate suits digits; wide letters ("W", "M") need the font shrunk until they fit.
    const int room = contentsRect().width();
    if (!shown.isEmpty() && room > 0) {
        int advance = QFontMetrics(f).horizontalAdvance(shown);
        for (int tries = 0; advance > room && px > 7 && tries < 4; ++tries) {
            px = std::max(7, std::min(px - 1, int(px * double(room) / advance)));
            f.setPixelSize(px);
            advance = QFontMetrics(f).horizontalAdvance(shown);
        }
    }
    if (font().pixelSize() != px)
        setFont(f);
}

bool FitLabel::textFits() const
{
    return fontMetrics().horizontalAdvance(text().trimmed()) <= contentsRect().width();
}

ChannelPicker::ChannelPicker(const QString& name, int16_t* slot) : m_slot(slot)
{
    setObjectName(name);
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setFocusPolicy(Qt::StrongFocus);
    // A combo box on its own also "activates" the matching item when typed text loses focus; that
    // link is cut, so text typed and left stores nothing.
    QObject::disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    setEditText(QStringLiteral("0"));
    connect(this, &QComboBox::activated, this,
            [this](int index) { *m_slot = int16_t(itemText(index).toShort()); });
}

void ChannelPicker::fillChannels()
{
    clear();
    for (int n = 1; n <= 8; ++n)
        addItem(QString::number(n));
}

void ChannelPicker::showChoice()
{
    // The list position follows the text, so the arrow keys step from the channel shown; channels
    // 9 to 16 are on no item.
    const QString text = QString::number(ShownChannel(*m_slot));
    setCurrentIndex(findText(text));
    setEditText(text);
}

void ChannelPicker::keepShownChoice()
{
    *m_slot = int16_t(ShownChannel(*m_slot));
}

void ChannelPicker::wheelEvent(QWheelEvent* event)
{
    // The wheel would step from the list position, not from the channel shown, and store a channel
    // the user never chose.
    event->ignore();
}

QLabel* MakeAlarmLabel(const QString& name)
{
    auto* label = new QLabel(QStringLiteral("High !!!"));
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(BoldFont(14));
    label->setAutoFillBackground(true);
    QPalette colours = label->palette();
    colours.setColor(QPalette::Window, QColor(255, 0, 0));
    colours.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(colours);
    label->hide();
    return label;
}

void ShowAlarm(QLabel* indicator, const QString& text)
{
    if (text.isEmpty()) {
        indicator->hide();
        indicator->clear();
    } else {
        indicator->setText(text);
        indicator->show();
    }
}

QLabel* MakeFullNote()
{
    auto* note = new QLabel(QStringLiteral("Data file full"));
    note->setObjectName(QStringLiteral("lblFileFull"));
    note->setFont(BoldFont(10));
    note->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0);"));
    note->setWordWrap(true);
    note->hide();
    return note;
}

namespace {
QString fullText()
{
    return DataFileFullText(MainForm ? MainForm->Station().BoundFileName() : Shared.DataFileName);
}
} // namespace

void ShowFullNote(QLabel* note)
{
    // A full data file and a damaged one alike leave recording off; rows that cannot be written
    // (a full disk) are lost while recording goes on trying.
    const RecordingStation* station = MainForm ? &MainForm->Station() : nullptr;
    QString off = station ? station->RecordingOffText() : DataFileFull() ? fullText() : QString();
    QString caption = station && station->DataFileDamaged() ? QStringLiteral("Recording off: data file damaged")
                      : station && !station->Data().IsBound() ? QStringLiteral("Recording off: no data file")
                                                              : QStringLiteral("Data file full");
    if (off.isEmpty() && station && station->RowTrouble().Failing()) {
        off = station->RowTrouble().Text();
        caption = QStringLiteral("Rows not recorded (%1)").arg(station->RowTrouble().Missed());
    }
    // A query window or Create New Data File holds the scan: said here, as the button says PAUSE.
    if (off.isEmpty() && station && !station->HeldText().isEmpty()) {
        off = station->HeldText();
        caption = off;
    }
    // The main window's status bar is covered: what keeps the meter away is said here too.
    if (off.isEmpty() && station && !station->SourceTroubleText().isEmpty()) {
        off = station->SourceTroubleText();
        caption = off;
    }
    if (note->text() != caption)
        note->setText(caption);
    if (note->toolTip() != off)
        note->setToolTip(off);
    note->setVisible(!off.isEmpty());
}

QLabel* MakeOutageNote()
{
    auto* note = new QLabel;
    note->setObjectName(QStringLiteral("lblOutage"));
    note->setFont(BoldFont(10));
    note->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0);"));
    note->hide();
    return note;
}

void ShowOutageNote(QLabel* note)
{
    const QString text = MainForm ? MainForm->Station().ForwardOutageText() : QString();
    if (note->text() != text)
        note->setText(text);
    note->setVisible(!text.isEmpty());
}

void SaveDataNow()
{
    if (!MainForm)
        return;
    if (DataFileFull()) {
        Host().message(fullText(), HostServices::Ok, HostServices::Icon::Warning);
        return;
    }
    QString error;
    if (!MainForm->savedata(&error))
        Host().message(error.isEmpty() ? QCoreApplication::translate("SaveData", "The sample could not be recorded.")
                                       : error,
                       HostServices::Ok, HostServices::Icon::Critical);
}

QLabel* MakeSavedNote()
{
    auto* note = new QLabel;
    note->setObjectName(QStringLiteral("SavedNote"));
    return note;
}

void ShowSaved(QLabel* note, bool saved, const QString& detail)
{
    note->setText(saved ? QStringLiteral("Saved at %1").arg(Host().now().toString(QStringLiteral("HH:mm:ss")))
                        : QStringLiteral("Not saved"));
    note->setToolTip(detail);
}

void PauseRecording(bool paused, const QString& why)
{
    if (MainForm)
        MainForm->Station().Pause(paused, why);
    else
        Shared.Paused = paused;
}

void StartScanTimer()
{
    if (MainForm && !MainForm->Timer1->isActive())
        MainForm->Timer1->start();
}

void PauseWhenNoDisplayOpen()
{
    if (Shared.TextDispOpen || Shared.AngularDispOpen || Shared.ChartDispOpen)
        return;
    PauseRecording(true, QStringLiteral("the last live display was closed"));
    if (MainForm)
        MainForm->Timer1->stop();
}

QPushButton* MakeButton(const QString& name, const QString& caption)
{
    auto* button = new QPushButton(caption);
    button->setObjectName(name);
    button->setMinimumHeight(32);
    return button;
}

QGroupBox* PickerFrame(const QString& caption, std::span<ChannelPicker* const> pickers)
{
    auto* box = new QGroupBox(caption);
    auto* form = new QFormLayout(box);
    for (size_t i = 0; i < pickers.size(); ++i)
        form->addRow(QStringLiteral("Display %1").arg(i + 1), pickers[i]);
    return box;
}

StatusArea StatusArea::Build(const QString& alarmName, const QString& soundName)
{
    StatusArea a;
    a.widget = new QWidget;
    a.grid = new QGridLayout(a.widget);
    a.grid->setContentsMargins(0, 0, 0, 0);
    a.grid->setHorizontalSpacing(16);

    auto* alarmFrame = new QFrame;
    alarmFrame->setFrameShape(QFrame::StyledPanel);
    alarmFrame->setMinimumSize(140, 40);
    a.alarm = MakeAlarmLabel(alarmName);
    auto* alarmLayout = new QVBoxLayout(alarmFrame);
    alarmLayout->setContentsMargins(2, 2, 2, 2);
    alarmLayout->addWidget(a.alarm);

    a.odometer = new Odometer;
    a.odometer->setObjectName(QStringLiteral("Odometer1"));
    a.odometer->setToolTip(QCoreApplication::translate("StatusArea", "Recorded samples"));
    a.odometer->setMinimumSize(150, 36);
    a.fullNote = MakeFullNote();
    a.outage = MakeOutageNote();

    const auto label = [](const QString& name, const QString& text) {
        auto* l = new QLabel(text);
        l->setObjectName(name);
        l->setFont(BoldFont(13));
        return l;
    };
    a.date = label(QStringLiteral("Label16"), QString());
    a.time = label(QStringLiteral("Label15"), QString());
    a.scanCaption = label(QStringLiteral("Label7(5)"), QStringLiteral("Scan Rate"));
    a.scanRate = label(QStringLiteral("Label17"), QString());

    a.sound = new QCheckBox(QStringLiteral("Alarm Sound"));
    a.sound->setObjectName(soundName);
    QObject::connect(a.sound, &QCheckBox::toggled, a.sound, [](bool on) { Shared.AlarmSound = on; });
    a.run = MakeButton(QStringLiteral("Command5"), QStringLiteral("RUN"));
    a.run->setFont(BoldFont(12));
    a.saveData = MakeButton(QStringLiteral("Command3"), QStringLiteral("Save Data"));
    QObject::connect(a.saveData, &QPushButton::clicked, a.saveData, &SaveDataNow);

    a.grid->addWidget(alarmFrame, 0, 0, 2, 1);
    a.grid->addWidget(a.odometer, 0, 1, 2, 1);
    a.grid->addWidget(a.fullNote, 2, 1);
    a.grid->addWidget(a.outage, 2, 2, 1, 4);
    a.grid->addWidget(a.date, 0, 2);
    a.grid->addWidget(a.time, 1, 2);
    a.grid->addWidget(a.scanCaption, 0, 3);
    a.grid->addWidget(a.scanRate, 1, 3);
    a.grid->addWidget(a.sound, 0, 4);
    a.grid->addWidget(a.run, 0, 5);
    a.grid->addWidget(a.saveData, 1, 5);
    for (int column : {2, 3})
        a.grid->setColumnStretch(column, 1);
    return a;
}

void StatusArea::showSetup() const
{
    scanRate->setText(QString::number(Shared.ScanRate) + QStringLiteral(" sec"));
    odometer->settle();
    sound->setChecked(Shared.AlarmSound);
}

void StatusArea::refresh() const
{
    ShowDateTime(date, time);
    sound->setChecked(Shared.AlarmSound);
    if (MainForm)
        MainForm->check_pause();
    odometer->setCount(Shared.RecordCount);
    ShowFullNote(fullNote);
    ShowOutageNote(outage);
}

void ShowDateTime(QLabel* date, QLabel* time)
{
    const QDateTime now = Host().now();
    date->setText(now.toString(QStringLiteral("MM-dd-yyyy")));
    time->setText(now.toString(QStringLiteral("HH:mm:ss")));
}
