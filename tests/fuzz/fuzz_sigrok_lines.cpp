// meter-sigrok's lines as the sigrok source reads them, and source choices as meter-record reads
// them: any bytes parse or are refused, a reading is a usable one (a channel index, a finite value
// unless it is an overload or NaN, a unit that fits the data file's column), and the channels laid
// out for parsed choices fit the file without overlapping. Byte 0 picks the parser.
#include "fuzz_support.h"
#include "station/sigrok_lines.h"
#include "station/source_choice.h"

#include <cmath>

namespace {

void FuzzLines(const QByteArray& bytes)
{
    for (const QByteArray& raw : bytes.split('\n')) {
        const SigrokLine line = ParseSigrokLine(raw);
        if (line.kind != SigrokLine::Kind::Reading)
            continue;
        FUZZ_CHECK(line.index >= 0 && line.index < 1000, "a channel index");
        FUZZ_CHECK(std::isfinite(line.value) || line.overload || line.notNumber, "a finite value");
        FUZZ_CHECK(!line.quantity.isEmpty(), "a quantity");
        FUZZ_CHECK(ColumnUnit(line).size() <= 10, "a unit that fits the column");
    }
}

void FuzzChoices(const QByteArray& bytes, int fileChannels)
{
    QList<SourceChoice> choices;
    for (const QByteArray& raw : bytes.split('\n')) {
        SourceChoice choice;
        QString error;
        if (ParseSourceChoice(QString::fromUtf8(raw), &choice, &error))
            choices << choice;
        else
            FUZZ_CHECK(!error.isEmpty(), "a refusal without a reason");
    }
    QString error;
    if (!LayOutSources(choices, fileChannels, &error)) {
        FUZZ_CHECK(!error.isEmpty(), "a refusal without a reason");
        return;
    }
    for (qsizetype i = 0; i < choices.size(); ++i) {
        FUZZ_CHECK(choices[i].firstChannel >= 1 && choices[i].lastChannel <= fileChannels &&
                       choices[i].firstChannel <= choices[i].lastChannel,
                   "channels inside the file");
        for (qsizetype j = 0; j < i; ++j)
            FUZZ_CHECK(choices[i].lastChannel < choices[j].firstChannel || choices[j].lastChannel < choices[i].firstChannel,
                       "sources that do not overlap");
    }
}

int FuzzSigrokLines(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t selector = in.byte();
    const QByteArray rest = in.rest();
    if (selector & 0x80)
        FuzzChoices(rest, 1 + (selector & 0x0f));
    else
        FuzzLines(rest);
    return 0;
}

} // namespace

VARNIK_FUZZ_TARGET("sigrok_lines", FuzzSigrokLines)
