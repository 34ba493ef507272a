#include "app/ReportWindow.h"

#include "app/FileDialogs.h"
#include "app/MessageBoxes.h"
#include "app/ReportChart.h"
#include "app/ReportTableModel.h"
#include "app/Tmain.h"
#include "report/ReportExport.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

ReportWindow::ReportWindow(Tmain& main) : QDialog(&main), main_(main)
{
    setObjectName(QStringLiteral("ReportWindow"));
    setWindowTitle(QStringLiteral("Loudness Report"));
    resize(980, 420);

    model = new ReportTableModel(this);
    table = new QTableView;
    table->setObjectName(QStringLiteral("table"));
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setSectionResizeMode(ReportTableModel::File, QHeaderView::Stretch);
    chart = new ReportChart;

    btn_analyze = new QPushButton(QStringLiteral("Analyze"));
    btn_analyze->setObjectName(QStringLiteral("btn_analyze"));
    btn_export = new QPushButton(QStringLiteral("Export..."));
    btn_export->setObjectName(QStringLiteral("btn_export"));
    label_status = new QLabel;
    label_status->setObjectName(QStringLiteral("label_status"));

    auto* views = new QHBoxLayout;
    views->addWidget(table, 3);
    views->addWidget(chart, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(label_status, 1);
    buttons->addWidget(btn_analyze);
    buttons->addWidget(btn_export);
    auto* column = new QVBoxLayout(this);
    column->addLayout(views, 1);
    column->addLayout(buttons);

    connect(btn_analyze, &QPushButton::clicked, &main_, &Tmain::analyseList);
    connect(btn_export, &QPushButton::clicked, this, &ReportWindow::exportReport);
    connect(&main_, &Tmain::checkChanged, this, &ReportWindow::watch);
    connect(&main_, &Tmain::jobEnded, this, &ReportWindow::refresh);
    watch(main_.lastCheck());
}

void ReportWindow::watch(const LoudnessCheck* check)
{
    if (check_ != check && check) {
        for (auto signal : {&LoudnessCheck::rowMeasured, &LoudnessCheck::rowVerified})
            connect(check, signal, this, &ReportWindow::refresh);
        connect(check, &LoudnessCheck::planMade, this, &ReportWindow::refresh);
        connect(check, &LoudnessCheck::finished, this, &ReportWindow::refresh);
        connect(check, &LoudnessCheck::progress, this,
                [this](int percent) { label_status->setText(QStringLiteral("Analyze data... %1%").arg(percent)); });
    }
    check_ = check;
    model->show(check ? &check->report() : nullptr);
    chart->show(check ? &check->report() : nullptr);
    refresh();
}

void ReportWindow::refresh()
{
    model->refresh();
    chart->update();
    const bool busy = check_ && !check_->isOver();
    btn_analyze->setEnabled(!busy && !main_.jobActive());
    btn_export->setEnabled(check_ && !busy);
    if (!busy)
        label_status->setText(!check_ ? QStringLiteral("Press Analyze to measure the list.")
                              : check_->planned() ? QString() : QStringLiteral("Cancelled."));
}

void ReportWindow::exportReport()
{
    if (!check_)
        return;
    const QString name = main_.fileDialogs().saveFile(this, QStringLiteral("Export the report"),
                                                      QStringLiteral("CSV (*.csv);;JSON (*.json)"));
    if (name.isEmpty())
        return;
    const std::string problem = report_export::write(check_->report(), QFile::encodeName(name).toStdString());
    if (!problem.empty())
        message_boxes::showError(this, QStringLiteral("Error"), QString::fromStdString(problem));
}
