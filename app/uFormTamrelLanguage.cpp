// The main window's interface language: the English layout texts, the menu that chooses
// between English and Russian, and applying the choice to every window of the program at once.
#include "uBalloonHint.h"
#include "uFormFirmwareUpdate.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameTamrelChannel.h"
#include "uTamrelWidgets.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QToolButton>

void TFormTamrel::DoEnglish() {
    FRussian = false;
    ButtonUpdateFirmware->setText(QStringLiteral("Update Firmware"));
    LabelFindAndConnect->setText(QStringLiteral("Find and connect:"));
    LabelManualControl->setText(QStringLiteral("Manual control:"));
    NManualInPercent->setText(QStringLiteral("Regulate in %"));
    NManualInVolt->setText(QStringLiteral("Regulate in V"));
    LabePanelHeadType->setText(QStringLiteral("Pump head type:"));
    RadioGroupResistiveHead->SetItemText(0, QStringLiteral("Inductive"));
    RadioGroupResistiveHead->SetItemText(1, QStringLiteral("Resistive"));
    LabelHeadTemperature->setText(QStringLiteral("Head temperature:"));
    sPageControl1->setTabText(sPageControl1->indexOf(sTabSheetChartPosition),
                              QStringLiteral("Current position"));
    sPageControl1->setTabText(sPageControl1->indexOf(sTabSheetChartHyst),
                              QStringLiteral("Measure hysteresis"));
    sCheckBoxPositionFast->setText(QStringLiteral("Draw often"));
    LabelStart->setText(QStringLiteral("Start with (%):"));
    LabelEnd->setText(QStringLiteral("end with (%):"));
    LabelStep->setText(QStringLiteral("step (%):"));
    LabelPeriod->setText(QStringLiteral("Period (ms):"));
    ButtonStartStop->setText(QStringLiteral("Start"));
    LabelHeadSerial->setText(QStringLiteral("Head serial number:"));
    CheckBoxSampleAfterStep->setText(QStringLiteral("Sample right after each step"));
    ButtonLimits->setText(QStringLiteral("Limits…"));
    ButtonExportRecordCsv->setText(QStringLiteral("Export CSV"));
    ButtonReportPdf->setText(QStringLiteral("Report PDF…"));
    ButtonExportSamplesCsv->setText(QStringLiteral("Export CSV"));
    TextSweepNotConnected = QStringLiteral("Not connected: connect to the device first");
    DeviceLink->sButtonConnect->setAccessibleName(LabelFindAndConnect->text());
    NameScreenshotButtons(QStringLiteral("Chart screenshot"));
    FrameTamrelChannel1->DoEnglish();
    FrameTamrelChannel2->DoEnglish();
}

void TFormTamrel::CreateLanguageMenu(QWidget *panel) {
    ButtonLanguage = new QToolButton(panel);
    ButtonLanguage->setObjectName(QStringLiteral("ButtonLanguage"));
    ButtonLanguage->setText(QStringLiteral("Language"));
    ButtonLanguage->setPopupMode(QToolButton::InstantPopup);
    ButtonLanguage->setFixedHeight(23);
    auto *menu = new QMenu(ButtonLanguage);
    menu->setObjectName(QStringLiteral("PopupMenuLanguage"));
    auto *group = new QActionGroup(menu);
    // Each language is named in itself, so that either can be found whatever is shown.
    NLanguageEnglish = menu->addAction(QStringLiteral("English"));
    NLanguageEnglish->setObjectName(QStringLiteral("NLanguageEnglish"));
    NLanguageRussian = menu->addAction(QStringLiteral("Русский"));
    NLanguageRussian->setObjectName(QStringLiteral("NLanguageRussian"));
    for (QAction *item : {NLanguageEnglish, NLanguageRussian}) {
        item->setCheckable(true);
        item->setActionGroup(group);
    }
    NLanguageEnglish->setChecked(true);
    connect(NLanguageEnglish, &QAction::triggered, this, [this] { ChooseLanguage(lgEnglish); });
    connect(NLanguageRussian, &QAction::triggered, this, [this] { ChooseLanguage(lgRussian); });
    ButtonLanguage->setMenu(menu);
}

void TFormTamrel::ChooseLanguage(TLanguage language) {
    ApplyLanguage(language);
    QSettings(SettingsFilePath(), QSettings::IniFormat)
        .setValue(QStringLiteral("Interface/Language"),
                  language == lgRussian ? QStringLiteral("ru") : QStringLiteral("en"));
}

void TFormTamrel::ApplyLanguage(TLanguage language) {
    const bool russian = language == lgRussian;
    if (russian) {
        DoRus();
        DeviceLink->DoRus();
    } else {
        DoEnglish();
        DeviceLink->DoEnglish();
    }
    // Texts that follow the window's state rather than a table.
    if (DiagramMode != dmNone) ButtonStartStop->setText(QStringLiteral("Stop"));
    ShowFigures(TTestRecord(FFiguresShown));
    DeviceLink->RefreshHint();
    ButtonTestHistory->setText(russian ? QStringLiteral("История…") : QStringLiteral("History…"));
    ButtonLanguage->setText(russian ? QStringLiteral("Язык") : QStringLiteral("Language"));
    (russian ? NLanguageRussian : NLanguageEnglish)->setChecked(true);
    if (FormFirmwareUpdate) {
        if (russian)
            FormFirmwareUpdate->DoRus();
        else
            FormFirmwareUpdate->DoEnglish();
    }
}
