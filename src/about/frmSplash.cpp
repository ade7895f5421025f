#include "about/frmSplash.h"

#include "about/identity_ui.h"
#include "core/shared_state.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, qreal scale = 1.0,
                  bool bold = false)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(bold);
    label->setFont(font);
    return label;
}
} // namespace

frmSplash::frmSplash(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(Shared.ExeTitle);

    fraMainFrame = new QFrame(this);
    fraMainFrame->setObjectName(QStringLiteral("fraMainFrame"));
    fraMainFrame->setFrameShape(QFrame::Box);
    fraMainFrame->setLineWidth(2);

    imgLogo = new QLabel(fraMainFrame);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->setPixmap(VarnikLogo(112));

    const bool generic = Shared.GenericIdentity;
    lblCompanyProduct = makeLabel(fraMainFrame, QStringLiteral("lblCompanyProduct"),
                                  QStringLiteral("Varnik Instruments"), 1.2, true);
    lblProductName =
        makeLabel(fraMainFrame, QStringLiteral("lblProductName"), ProductDescription(generic), 1.6, true);
    lblVersion = makeLabel(fraMainFrame, QStringLiteral("lblVersion"), Shared.VersionText, 1.1);
    Label1 = makeLabel(fraMainFrame, QStringLiteral("Label1"), QStringLiteral("Model no. : SW-U350-WIN"));
    Label2 = makeLabel(fraMainFrame, QStringLiteral("Label2"), QStringLiteral("Version : V9904TW"));
    if (generic) {
        Label1->hide();
        lblCompanyProduct->hide();
    }

    auto* text = new QVBoxLayout;
    text->addWidget(lblCompanyProduct);
    text->addWidget(lblProductName);
    text->addStretch(1);
    text->addWidget(Label1);
    text->addWidget(lblVersion);
    text->addWidget(Label2);

    auto* inside = new QHBoxLayout(fraMainFrame);
    inside->setContentsMargins(24, 24, 24, 24);
    inside->setSpacing(24);
    inside->addWidget(imgLogo, 0, Qt::AlignTop);
    inside->addLayout(text, 1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    outer->addWidget(fraMainFrame);
    setMinimumSize(520, 260);
}
