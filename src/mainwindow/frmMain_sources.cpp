// The program's sources of readings: built from the choice kept in the settings store (the
// instrument, a libsigrok device or both; Setup > System Setup > Meter Source), again when that
// choice or the data file's channels change.
#include "mainwindow/frmMain.h"

#include "core/shared_state.h"
#include "datafile/data_file.h"
#include "platform/serial_control.h"
#include "station/meter_source.h"
#include "station/recording_station.h"
#include "station/source_choice.h"
#include "station/source_setup.h"

#include <QLabel>
#include <algorithm>

void frmMain::SourcesChanged()
{
    followSourceSettings();
}

void frmMain::followSourceSettings()
{
    const int fileChannels = Data1->IsBound() ? FieldCount / 2 : MaxChannel;
    QList<SourceChoice> choices;
    QString problem;
    if (!ParseSourceChoices(StoredSourceTexts(), &choices, &problem) ||
        !LayOutSources(choices, fileChannels, &problem)) {
        // Recording goes on from what fits: the instrument when it is among them, else nothing.
        problem = QStringLiteral("stored meter source not recorded: %1")
                      .arg(problem.replace(QStringLiteral("source \"meter\""), QStringLiteral("the instrument")));
        const bool meter = std::any_of(choices.begin(), choices.end(),
                                       [](const SourceChoice& c) { return c.kind == SourceChoice::Kind::Meter; });
        QString none;
        choices.clear();
        if (meter)
            ParseSourceChoices({}, &choices, &none);
        LayOutSources(choices, fileChannels, &none);
    }
    QString layout = problem;
    for (const SourceChoice& c : choices)
        layout += QStringLiteral("|%1@%2-%3").arg(c.text).arg(c.firstChannel).arg(choices.size() > 1 ? c.lastChannel : 0);
    if (layout == m_sourceLayout)
        return;
    const bool first = m_sourceLayout.isEmpty();
    m_sourceLayout = layout;

    if (!first)
        m_station->RemoveSources(QStringLiteral("meter sources changed"));
    m_meter = nullptr;
    MSComm1 = nullptr;
    QStringList texts;
    for (const SourceChoice& choice : choices) {
        ReadingSource* source = MakeSource(choice, SerialLink::Recovery::AskUser);
        m_station->AddSource(source);
        if (choice.kind == SourceChoice::Kind::Meter) {
            m_meter = static_cast<MeterSource*>(source);
            MSComm1 = &m_meter->Port();
            MSComm1->setObjectName(QStringLiteral("MSComm1"));
            m_meter->Link().OnDeclined = [this] { CloseProgram(); };
        }
        texts << SourceText(choice, choices.size() == 1);
    }
    PlaceSources(*m_station, choices);
    const bool meterAlone = m_meter && choices.size() == 1;
    // The start event names the port and baud rate of the instrument alone itself; a stored
    // source that was refused is named there too, so the log says why its channels are empty.
    const QString inUse = texts.isEmpty() ? QStringLiteral("no meter source") : texts.join(QStringLiteral("; "));
    m_station->Events().SourcesText =
        !problem.isEmpty() ? inUse + QStringLiteral("; ") + problem : meterAlone ? QString() : inUse;
    m_sourcesInUse = meterAlone ? QStringLiteral("the instrument (RS-232)") : inUse;
    if (!problem.isEmpty()) {
        m_sourcesInUse += QStringLiteral(" (%1)").arg(problem);
        Panels[0]->setText(QStringLiteral("Not recorded: %1. Change it in Setup > System Setup > Meter Source.")
                               .arg(problem.section(QStringLiteral(": "), 1)));
        Panels[0]->setToolTip(Panels[0]->text());
    } else if (!first) {
        Panels[0]->setText(QStringLiteral("Meter source: %1.").arg(m_sourcesInUse));
        Panels[0]->setToolTip(Panels[0]->text());
    }
    if (m_sourcesStarted)
        m_station->StartSources();
}
