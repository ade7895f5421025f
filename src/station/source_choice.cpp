#include "station/source_choice.h"

#include "core/shared_state.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

bool Fail(QString* error, const QString& text)
{
    *error = text;
    return false;
}

} // namespace

bool ParseSourceChoice(const QString& given, SourceChoice* out, QString* error)
{
    SourceChoice choice;
    choice.text = given;
    // No source holds a control character; one is named, never printed (a line break or an escape
    // sequence would forge or garble the log).
    for (const QChar c : given)
        if (c.category() == QChar::Other_Control)
            return Fail(error, QStringLiteral("a source holds the control character U+%1")
                                   .arg(c.unicode(), 4, 16, QLatin1Char('0')));
    QString body = given;
    static const QRegularExpression at(QStringLiteral("@([^:@]*)$"));
    if (const QRegularExpressionMatch m = at.match(body); m.hasMatch()) {
        static const QRegularExpression number(QStringLiteral("^\\d{1,3}$"));
        const int n = number.match(m.captured(1)).hasMatch() ? m.captured(1).toInt() : 0;
        if (n < 1 || n > MaxChannel)
            return Fail(error, QStringLiteral("source \"%1\": @%2 is no channel 1 to %3")
                                   .arg(given, m.captured(1))
                                   .arg(MaxChannel));
        choice.at = n;
        body.chop(m.capturedLength());
    }
    if (body == QLatin1String("meter")) {
        choice.kind = SourceChoice::Kind::Meter;
        if (choice.at && *choice.at != 1)
            return Fail(error, QStringLiteral("source \"%1\": the meter's frames name their channels, so it starts at "
                                              "channel 1")
                                   .arg(given));
        *out = choice;
        return true;
    }
    if (!body.startsWith(QLatin1String("sigrok:")))
        return Fail(error, QStringLiteral("source \"%1\" is neither meter nor sigrok:DRIVER[:KEY=VALUE...]").arg(given));
    const QStringList parts = body.mid(7).split(QLatin1Char(':'));
    choice.kind = SourceChoice::Kind::Sigrok;
    choice.driver = parts[0];
    // libsigrok names its drivers in lower case but for one, a driver of FS9721 meters with capitals.
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9_.-]*$"));
    if (!name.match(choice.driver).hasMatch())
        return Fail(error, QStringLiteral("source \"%1\": \"%2\" is no driver name").arg(given, choice.driver));
    for (qsizetype i = 1; i < parts.size(); ++i) {
        if (!parts[i].contains(QLatin1Char('=')) && !choice.options.isEmpty())
            choice.options.last() += QLatin1Char(':') + parts[i];
        else if (parts[i].indexOf(QLatin1Char('=')) < 1)
            return Fail(error, QStringLiteral("source \"%1\": \"%2\" is not KEY=VALUE").arg(given, parts[i]));
        else
            choice.options << parts[i];
    }
    std::optional<int> channels;
    for (qsizetype i = 0; i < choice.options.size(); ++i) {
        const QString key = choice.options[i].section(QLatin1Char('='), 0, 0);
        const QString value = choice.options[i].section(QLatin1Char('='), 1);
        if (key == QLatin1String("channels")) {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 1 || n > MaxChannel)
                return Fail(error, QStringLiteral("source \"%1\": channels=%2 is not 1 to %3").arg(given, value).arg(MaxChannel));
            channels = n;
            choice.options.removeAt(i--);
        } else if (key == QLatin1String("analog_channels") && !channels) {
            const int n = value.toInt();
            choice.channels = std::clamp(n, 1, MaxChannel);
        }
    }
    if (channels)
        choice.channels = *channels;
    *out = choice;
    return true;
}

bool LayOutSources(QList<SourceChoice>& choices, int fileChannels, QString* error)
{
    int lowestOther = fileChannels + 1;
    int next = 1;
    bool afterMeter = false;
    for (SourceChoice& s : choices) {
        if (s.kind == SourceChoice::Kind::Meter) {
            s.firstChannel = 1;
            afterMeter = true;
            continue;
        }
        if (!s.at && afterMeter)
            return Fail(error, QStringLiteral("source \"%1\" follows the meter, whose frames may name any channel: give "
                                              "it its first channel with @N")
                                   .arg(s.text));
        s.firstChannel = s.at ? *s.at : next;
        s.lastChannel = s.firstChannel + s.channels - 1;
        if (s.lastChannel > fileChannels)
            return Fail(error, QStringLiteral("source \"%1\" needs channels %2 to %3, but the data file has %4")
                                   .arg(s.text)
                                   .arg(s.firstChannel)
                                   .arg(s.lastChannel)
                                   .arg(fileChannels));
        lowestOther = std::min(lowestOther, s.firstChannel);
        next = s.lastChannel + 1;
    }
    for (SourceChoice& s : choices)
        if (s.kind == SourceChoice::Kind::Meter)
            s.lastChannel = lowestOther - 1;
    for (qsizetype i = 0; i < choices.size(); ++i) {
        if (choices[i].lastChannel < choices[i].firstChannel)
            return Fail(error, QStringLiteral("source \"%1\" has no channel left").arg(choices[i].text));
        for (qsizetype j = 0; j < i; ++j)
            if (choices[i].firstChannel <= choices[j].lastChannel && choices[j].firstChannel <= choices[i].lastChannel)
                return Fail(error, QStringLiteral("sources \"%1\" (channels %2 to %3) and \"%4\" (channels %5 to %6) "
                                                  "overlap")
                                       .arg(choices[j].text)
                                       .arg(choices[j].firstChannel)
                                       .arg(choices[j].lastChannel)
                                       .arg(choices[i].text)
                                       .arg(choices[i].firstChannel)
                                       .arg(choices[i].lastChannel));
    }
    return true;
}
