// What a hysteresis sweep leaves behind: its figures and verdict under the chart, the maximum
// marked on the chart, the test record in the store, the exports, the limits dialog and the
// remembered sweep settings.
#include "CompFloatEdit.h"
#include "uDialogTestLimits.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameTamrelChannel.h"
#include "uKvApplication.h"
#include "uSweepRecord.h"
#include "uTamrelCharts.h"
#include "uTamrelTester.h"
#include "uTamrelWidgets.h"
#include "uTestRecordCsv.h"
#include "uTestRecordExportFile.h"
#include "uTestRecordPdf.h"
#include "uTestRecordServerStore.h"
#include "uTestRecordStore.h"
#include "uTestRecordWorker.h"
#include "uUpdateServerSetting.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>
#include <qcustomplot.h>

#include <stdexcept>

namespace {

const QString KeySampleAfterStep = QStringLiteral("Sweep/SampleAfterStep");
const QString KeyHeadSerial = QStringLiteral("Sweep/HeadSerial");

QString Volts(double v) {
    return QStringLiteral("%1 V").arg(v, 0, 'f', 3);
}

// "0.412 V (9.8 %)", or only the volts when the span gives no percentage.
QString VoltsAndPercent(const THysteresisFigures &figures, double volts, double percent) {
    if (!figures.HasPercent()) return Volts(volts);
    return QStringLiteral("%1 (%2 %)").arg(Volts(volts)).arg(percent, 0, 'f', 1);
}

// A file name proposal from the record: "hysteresis_<serial>_<UTC time>.<ext>".
QString ProposedName(const TTestRecord &record, const QString &ext) {
    QString serial = record.HeadSerial.trimmed();
    serial.replace(QRegularExpression(QStringLiteral(R"([^\w.-]+)")), QStringLiteral("_"));
    const QString time = record.TakenAt.toUTC().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    return QStringLiteral("hysteresis_%1%2.%3")
        .arg(serial.isEmpty() ? QString() : serial + QLatin1Char('_'), time, ext);
}

} // namespace

QString TFormTamrel::SettingsFilePath() {
    return UpdateServerSettingsFilePath();
}

void TFormTamrel::LoadSweepSettings() {
    const QSettings settings(SettingsFilePath(), QSettings::IniFormat);
    CheckBoxSampleAfterStep->setChecked(settings.value(KeySampleAfterStep, false).toBool());
    EditHeadSerial->setText(settings.value(KeyHeadSerial).toString());
}

void TFormTamrel::CheckBoxSampleAfterStepClick() {
    QSettings settings(SettingsFilePath(), QSettings::IniFormat);
    settings.setValue(KeySampleAfterStep, CheckBoxSampleAfterStep->isChecked());
}

void TFormTamrel::EditHeadSerialChanged() {
    QSettings settings(SettingsFilePath(), QSettings::IniFormat);
    settings.setValue(KeyHeadSerial, EditHeadSerial->text());
}

QString TFormTamrel::PumpTypeName() const {
    return TamrelTester::PumpTypeNames().value(RadioGroupPumpType->ItemIndex());
}

QString TFormTamrel::HeadTypeName() const {
    return TamrelTester::HeadTypeNames().value(RadioGroupResistiveHead->ItemIndex());
}

TTestLimits TFormTamrel::CurrentLimits() const {
    QSettings settings(SettingsFilePath(), QSettings::IniFormat);
    return LoadTestLimits(settings, PumpTypeName(), HeadTypeName());
}

void TFormTamrel::ButtonLimitsClick() {
    const QString pumpType = PumpTypeName(), headType = HeadTypeName();
    auto *dialog = new TDialogTestLimits(pumpType, headType, CurrentLimits(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog, pumpType, headType] {
        TKvApplication::RunGuarded([&] {
            QSettings settings(SettingsFilePath(), QSettings::IniFormat);
            SaveTestLimits(settings, pumpType, headType, dialog->Limits());
            settings.sync();
            if (settings.status() != QSettings::NoError)
                throw std::runtime_error(QStringLiteral("The limits could not be saved to %1")
                                             .arg(settings.fileName())
                                             .toStdString());
        });
    });
    dialog->open();
}

// ---- The sweep's end ------------------------------------------------------------------------

void TFormTamrel::AwaitLastSample(int timeoutMs) {
    if (!FSweepFinishTimer) {
        FSweepFinishTimer = new QTimer(this);
        FSweepFinishTimer->setSingleShot(true);
        connect(FSweepFinishTimer, &QTimer::timeout, this,
                [this] { TKvApplication::RunGuarded([this] { FSweep.GiveUpLastSample(); }); });
    }
    FSweepFinishTimer->start(timeoutMs);
}

void TFormTamrel::SweepFinished(const TSweepOutcome &outcome) {
    if (FSweepFinishTimer) FSweepFinishTimer->stop();
    ReplotLater(ChartHyst);
    TSweepSubject subject;
    subject.HeadSerial = EditHeadSerial->text().trimmed();
    subject.Firmware = ButtonUpdateFirmware->toolTip();
    const TComPort *port = Link() == DeviceLink ? DeviceLink->ComPortObject() : nullptr;
    subject.TesterId = port && !port->Port().isEmpty() ? port->Port() : subject.Firmware;
    subject.PumpType = PumpTypeName();
    subject.HeadType = HeadTypeName();
    QSettings settings(SettingsFilePath(), QSettings::IniFormat);
    const std::optional<TTestRecord> record = MakeSweepRecord(subject, outcome, settings);
    if (!record) {
        ShowFigures(TTestRecord());
        return;
    }
    FLastRecord = record;
    ShowFigures(*record);
    if (SweepRecordWorthKeeping(*record, outcome.Complete)) StoreRecord(*record);
}

void TFormTamrel::ShowFigures(const TTestRecord &record) {
    // Kept so that a language switch shows the same figures in the new language.
    FFiguresShown = record;
    const THysteresisFigures &f = record.Figures;
    const QString none = QStringLiteral("—");
    const bool ru = FRussian;
    LabelHystMax->setText((ru ? QStringLiteral("Макс. гистерезис: ") : QStringLiteral("Max hysteresis: ")) +
                          (f.Available() ? (ru ? QStringLiteral("%1 при %2 %") : QStringLiteral("%1 at %2 %"))
                                               .arg(VoltsAndPercent(f, f.MaxVolts, f.MaxPercent))
                                               .arg(f.MaxAtDuty, 0, 'g', 4)
                                         : none));
    LabelHystMean->setText(
        (ru ? QStringLiteral("Средний гистерезис: ") : QStringLiteral("Mean hysteresis: ")) +
        (f.Available() ? VoltsAndPercent(f, f.MeanVolts, f.MeanPercent) : none));
    LabelHystSpan->setText((ru ? QStringLiteral("Размах: ") : QStringLiteral("Span: ")) +
                           (record.Branch(sbRising).isEmpty() ? none : Volts(f.SpanVolts)));

    LabelVerdict->setText(TestVerdictText(record.Verdict));
    LabelVerdict->setVisible(record.Verdict != tvNone);
    const QColor colour = record.Verdict == tvPass ? TestReportColors::Pass : TestReportColors::Fail;
    LabelVerdict->setStyleSheet(QStringLiteral("color: %1;").arg(colour.name()));
    LabelVerdictFailures->setText(record.Failures.join(QLatin1Char('\n')));
    LabelVerdictFailures->setVisible(!record.Failures.isEmpty());

    // The maximum: a vertical segment from the rising to the falling branch at its duty.
    const std::optional<double> rising = BranchVoltsAt(record.Branch(sbRising), f.MaxAtDuty);
    const std::optional<double> falling = BranchVoltsAt(record.Branch(sbFalling), f.MaxAtDuty);
    const bool marked = f.Available() && rising && falling;
    if (marked) {
        MarkerMaxHysteresis->start->setCoords(f.MaxAtDuty, *rising);
        MarkerMaxHysteresis->end->setCoords(f.MaxAtDuty, *falling);
    }
    MarkerMaxHysteresis->setVisible(marked);
    const bool hasRecord = !record.Id.isEmpty();
    ButtonExportRecordCsv->setEnabled(hasRecord);
    ButtonReportPdf->setEnabled(hasRecord);
    ReplotLater(ChartHyst);
}

// ---- The store ------------------------------------------------------------------------------

TTestRecordWorker *TFormTamrel::RecordWorker() {
    if (FRecordWorker) return FRecordWorker.get();
    FRecordWorker = OpenTestRecordWorker(SettingsFilePath(), RecordFolder);
    connect(FRecordWorker.get(), &TTestRecordWorker::Stored, this, [this](const TTestRecord &record) {
        FRecordStoreFailureShown = false;
        if (OnRecordStored) TKvApplication::RunGuarded([&] { OnRecordStored(record); });
    });
    connect(FRecordWorker.get(), &TTestRecordWorker::StoreFailed, this,
            [this](const TTestRecord &record, const QString &error, bool openFailed) {
                if (openFailed) {
                    // Said once: every sweep would say it again. The sweeps go on, and each
                    // tries again, in case the folder was mended meanwhile.
                    if (FRecordStoreFailureShown) return;
                    FRecordStoreFailureShown = true;
                    TKvApplication::ShowError(
                        QStringLiteral("Test records cannot be stored: %1\nSweeps still run and show their "
                                       "figures, but their records are not kept until this is mended.")
                            .arg(error));
                    return;
                }
                TKvApplication::ShowError(QStringLiteral("The test record of head \"%1\" was not stored: %2")
                                              .arg(record.HeadSerial, error));
            });
    return FRecordWorker.get();
}

void TFormTamrel::StoreRecord(const TTestRecord &record) {
    // Handed over and done: the worker makes it durable in the local file, then sends it.
    RecordWorker()->Write(record);
}

// ---- Exports --------------------------------------------------------------------------------

QString TFormTamrel::AskFileName(const QString &caption, const QString &proposedName, const QString &filter) {
    if (AskSaveFileName) return AskSaveFileName(caption, proposedName, filter);
    return QFileDialog::getSaveFileName(this, caption, QDir::home().filePath(proposedName), filter);
}

void TFormTamrel::ButtonExportRecordCsvClick() {
    if (!FLastRecord) return;
    const QString path =
        AskFileName(QStringLiteral("Export the sweep's points"),
                    ProposedName(*FLastRecord, QStringLiteral("csv")), QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    SaveExportFile(path, TestRecordPointsCsv(*FLastRecord));
}

void TFormTamrel::ButtonReportPdfClick() {
    if (!FLastRecord) return;
    const QString path =
        AskFileName(QStringLiteral("Save the test report"), ProposedName(*FLastRecord, QStringLiteral("pdf")),
                    QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty()) return;
    SaveTestRecordPdf(*FLastRecord, path);
}

void TFormTamrel::ButtonExportSamplesCsvClick() {
    const QString name =
        QStringLiteral("position_%1.csv")
            .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd_HHmmss")));
    const QString path =
        AskFileName(QStringLiteral("Export the position chart"), name, QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    SaveExportFile(path, TimeSamplesCsv(FPositionSamples));
}
