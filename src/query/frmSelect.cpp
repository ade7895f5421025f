#include "query/frmSelect.h"

#include "core/shared_state.h"
#include "platform/host_services.h"
#include "query/query_chart_ui.h"
#include "query/report_writer.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <cmath>

namespace {

// The leading part of a text that reads as a number, 0 when there is none.
double LeadingNumber(const QString& text)
{
    static const QRegularExpression number(
        QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?"));
    const auto m = number.match(text);
    return m.hasMatch() ? m.captured(0).trimmed().toDouble() : 0.0;
}

bool DefaultPrinter(QWidget* parent, QPrinter* printer)
{
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (!info.isNull()) {
        printer->setPrinterName(info.printerName());
        return true;
    }
    const QString file =
        QFileDialog::getSaveFileName(parent, QStringLiteral("Print Chart to PDF"),
                                     DataPath(QStringLiteral("chart.pdf")), QStringLiteral("PDF (*.pdf)"));
    if (file.isEmpty())
        return false;
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(file);
    return true;
}

} // namespace

frmSelect::frmSelect(QWidget* parent) : QueryWindow(8, 8, parent)
{
    setObjectName(QStringLiteral("frmSelect"));
    choosePrinter = [this](QPrinter* printer) { return DefaultPrinter(this, printer); };

    Chart2D1 = new QueryChart(this);
    auto* frame1 = new QGroupBox(this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    auto* setup = new QGridLayout(frame1);
    const QString captions[] = {QStringLiteral("Header"), QStringLiteral("Footer"), QStringLiteral("Y-Max"),
                                QStringLiteral("Y-Min"),  QStringLiteral("Y-Grid"), QStringLiteral("X-Grid")};
    for (int i = 0; i < 6; ++i) {
        Label4[size_t(i)] = new QLabel(captions[i], frame1);
        Label4[size_t(i)]->setObjectName(QStringLiteral("Label4(%1)").arg(i));
        Text4[size_t(i)] = new QLineEdit(frame1);
        Text4[size_t(i)]->setObjectName(QStringLiteral("Text4(%1)").arg(i));
        setup->addWidget(Label4[size_t(i)], i, 0);
        setup->addWidget(Text4[size_t(i)], i, 1);
    }
    Command4 = new QPushButton(QStringLiteral("Setup"), frame1);
    Command4->setObjectName(QStringLiteral("Command4"));
    setup->addWidget(Command4, 6, 0, 1, 2);

    auto* chartRow = new QHBoxLayout;
    chartRow->addWidget(Chart2D1, 1);
    chartRow->addWidget(frame1);
    m_right->addLayout(chartRow, 2);

    connect(Command2, &QPushButton::clicked, this, &frmSelect::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &frmSelect::Command5_Click);
    connect(Command4, &QPushButton::clicked, this, &frmSelect::Command4_Click);
    connect(Command3[0], &QPushButton::clicked, this, [this] { Command3_Click(0); });
    connect(Command3[1], &QPushButton::clicked, this, [this] { Command3_Click(1); });

    Chart2D1->SetupChart();
    resize(1100, 740);
}

void frmSelect::ClearChart()
{
    if (Shared.ChartShown)
        Command5_Click();
}

void frmSelect::Command2_Click()
{
    if (Shared.ChartShown)
        return;
    QList<int> channels;
    for (int i = 0; i < Check2.size(); ++i)
        if (Check2[i]->isChecked())
            channels.append(i + 1);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QStringList missing = Chart2D1->AddSeries(Result(), channels);
    QString eventError;
    Chart2D1->ShowEvents(QueriedEvents(&eventError));
    if (!eventError.isEmpty())
        missing << eventError;
    QApplication::restoreOverrideCursor();
    Shared.ChartShown = true;
    if (!missing.isEmpty())
        Host().message(missing.join(QLatin1Char('\n')), HostServices::Ok);
}

void frmSelect::Command5_Click()
{
    Chart2D1->ClearSeries();
    Shared.ChartShown = false;
}

void frmSelect::Command4_Click()
{
    const double yMax = LeadingNumber(Text4[2]->text());
    const double yMin = LeadingNumber(Text4[3]->text());
    const double yGrid = std::clamp(std::nearbyint(LeadingNumber(Text4[4]->text())), -32768.0, 32767.0);
    const double xGrid = LeadingNumber(Text4[5]->text());
    const double xMax = Chart2D1->XMax();
    const double xMin = Chart2D1->XMin();
    Chart2D1->SetTitles(Text4[0]->text(), Text4[1]->text());
    Chart2D1->SetYRange(yMin, yMax);
    if (yGrid > 0)
        Chart2D1->SetYGridSpacing((yMax - yMin) / yGrid);
    if (xGrid > 0)
        Chart2D1->SetXGridSpacing((xMax - xMin) / xGrid);
}

void frmSelect::Command3_Click(int index)
{
    if (index == 0)
        PrintChart();
    else
        PrintData();
}

void frmSelect::PrintChart()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    if (!choosePrinter(&printer))
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QPainter painter;
    const bool started = painter.begin(&printer);
    if (started) {
        Chart2D1->Paint(
            &painter, printer.pageLayout()
                          .paintRectPixels(printer.resolution())
                          .translated(-printer.pageLayout().paintRectPixels(printer.resolution()).topLeft()));
        painter.end();
    }
    QApplication::restoreOverrideCursor();
    if (!started)
        Host().message(
            QStringLiteral("The chart cannot be printed on %1.")
                .arg(printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName()),
            HostServices::Ok);
}

void frmSelect::PrintData()
{
    // The report runs the query again; the chart drawn from the earlier one stays as it is.
    if (!Query(false))
        return;
    const QString path = DataPath(QStringLiteral("report.txt"));
    QString error;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool written = WriteReport(Result(), ReportLongDate(Host().now().date()), path, &error);
    QApplication::restoreOverrideCursor();
    if (!written) {
        Host().message(error, HostServices::Ok);
        return;
    }
    OpenOutputFile(QStringLiteral("Report"), path);
}
