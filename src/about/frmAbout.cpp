#include "about/frmAbout.h"

#include "about/frmSysInfo.h"
#include "about/identity_ui.h"
#include "core/shared_state.h"
#include "platform/host_services.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QFrame* makeLine(QWidget* parent, int index)
{
    auto* line = new QFrame(parent);
    line->setObjectName(QStringLiteral("Line1(%1)").arg(index));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}
} // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent), SystemInfo(CollectSystemInfo)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ") + Shared.ExeTitle);
    setModal(true);

    const bool generic = Shared.GenericIdentity;
    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setPixmap(VarnikLogo(64));

    lblTitle = makeLabel(this, QStringLiteral("lblTitle"), Shared.ExeTitle);
    QFont titleFont = lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    lblTitle->setFont(titleFont);
    lblVersion = makeLabel(this, QStringLiteral("lblVersion"), Shared.VersionText);
    Label2 = makeLabel(this, QStringLiteral("Label2"), RevisionText());
    Label1 = makeLabel(this, QStringLiteral("Label1"), QStringLiteral("Model no. : SW-U350-WIN"));
    Label1->setVisible(!generic);
    lblDescription = makeLabel(this, QStringLiteral("lblDescription"), ProductDescription(generic));
    lblDisclaimer = makeLabel(this, QStringLiteral("lblDisclaimer"),
                              QStringLiteral("Warning: readings shown and recorded by this program are for "
                                             "reference. Confirm readings that matter with a calibrated "
                                             "instrument."));
    lblDisclaimer->setWordWrap(true);
    lblLicense = makeLabel(this, QStringLiteral("lblLicense"),
                           QStringLiteral("Free software under the GNU General Public License, version 3 or "
                                          "(at your option) any later version: you may share and change it "
                                          "under its terms. It comes with no warranty."));
    lblLicense->setWordWrap(true);
    for (int i = 0; i < 2; ++i)
        Line1[i] = makeLine(this, i);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QStringLiteral("System Info(&S)..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::close);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);

    auto* texts = new QVBoxLayout;
    texts->addWidget(lblTitle);
    texts->addWidget(lblVersion);
    texts->addWidget(Label2);
    texts->addWidget(Label1);
    texts->addWidget(Line1[0]);
    texts->addWidget(lblDescription);
    texts->addWidget(lblLicense);
    auto* top = new QHBoxLayout;
    top->addWidget(picIcon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts, 1);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    buttons->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblDisclaimer, 1);
    bottom->addSpacing(12);
    bottom->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(Line1[1]);
    layout->addLayout(bottom);
    setMinimumWidth(480);
}

void frmAbout::StartSysInfo()
{
    if (m_sysInfo) {
        m_sysInfo->raise();
        m_sysInfo->activateWindow();
        return;
    }
    const QString info = SystemInfo ? SystemInfo() : QString();
    if (info.trimmed().isEmpty()) {
        Host().message(QStringLiteral("此時的系統資訊不正確"), HostServices::Ok);
        return;
    }
    m_sysInfo = new frmSysInfo(info, this);
    m_sysInfo->setAttribute(Qt::WA_DeleteOnClose);
    m_sysInfo->show();
}
