#include "query/frmSelect_16.h"

#include "datafile/data_file.h"

#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// Combo1's list position for a channel count, -1 for a count the list does not offer.
int CountPosition(int channels)
{
    return channels == 8 ? 0 : channels == 12 ? 1 : channels == 16 ? 2 : -1;
}
} // namespace

frmSelect_16::frmSelect_16(QWidget* parent) : QueryWindow(16, 16, parent)
{
    setObjectName(QStringLiteral("frmSelect_16"));
    Label4 = new QLabel(QStringLiteral("Select Channel No"), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    auto* row = new QHBoxLayout;
    row->addWidget(Label4);
    row->addWidget(Combo1, 1);
    m_left->insertLayout(0, row);
    // The chart and the report belong to the 8-channel window only.
    for (QPushButton* b : {Command2, Command5, Command3[0], Command3[1]})
        b->hide();

    connect(Combo1, &QComboBox::currentIndexChanged, this, &frmSelect_16::Combo1_Click);
    Combo1->addItems(
        {QStringLiteral("  8 Channel"), QStringLiteral("  12 Channel"), QStringLiteral("  16 Channel")});
    // 12 channels unless the data file tells its own count.
    Combo1->setCurrentIndex(1);
    DataFileChosen(QDir::fromNativeSeparators(Label6->text()));
    resize(1000, 640);
}

void frmSelect_16::Combo1_Click(int index)
{
    SetChannelCount(index == 1 ? 12 : index == 2 ? 16 : 8);
}

void frmSelect_16::DataFileChosen(const QString& path)
{
    // A file that cannot be read, or of a count the list lacks, keeps the choice: the query says
    // what is wrong with it.
    const int position = CountPosition(DataFileChannels(path));
    if (position >= 0)
        Combo1->setCurrentIndex(position);
}
