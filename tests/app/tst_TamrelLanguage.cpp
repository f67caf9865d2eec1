// The interface language chosen in the main window's "Language" menu: every text of the
// language tables in place after each switch, both ways and more than once, in the main
// window, both channel panels, the link panel and the firmware window; texts that follow the
// state (the link's hint, a running sweep's button); the choice remembered and applied at
// start. The expected texts are the tables' own, typed here.
#include "TestMain.h"
#include "uFakeDeviceLink.h"
#include "uFormConnectionSettingsMorva.h"
#include "uFormFirmwareUpdate.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameInternetUpdates.h"
#include "uFrameTamrelChannel.h"
#include "uPrivateRuntime.h"
#include "uSimPty.h"
#include "uTamrelWidgets.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

#include <memory>

namespace {

struct TText {
    const char *Where; // "main:", "channel1:", "channel2:", "link:", "firmware:" + object name
    const char *English;
    const char *Russian;
};

// The main window's table, the channel panel's (for each panel), the link panel's and the
// internet update frame's.
const TText Texts[] = {
    {"main:ButtonUpdateFirmware", "Update Firmware", "Обновить прошивку"},
    {"main:LabelFindAndConnect", "Find and connect:", "Найти и подключиться:"},
    {"main:LabelManualControl", "Manual control:", "Ручное управление:"},
    {"main:NManualInPercent", "Regulate in %", "Регулировать в %"},
    {"main:NManualInVolt", "Regulate in V", "Регулировать в В"},
    {"main:LabePanelHeadType", "Pump head type:", "Тип головки насоса:"},
    {"main:RadioGroupResistiveHead#0", "Inductive", "Индуктивная"},
    {"main:RadioGroupResistiveHead#1", "Resistive", "Резистивная"},
    {"main:LabelHeadTemperature", "Head temperature:", "Температура головки:"},
    {"main:sTabSheetChartPosition", "Current position", "Текущее положение"},
    {"main:sTabSheetChartHyst", "Measure hysteresis", "Измерять гистерезис"},
    {"main:sCheckBoxPositionFast", "Draw often", "Рисовать часто"},
    {"main:LabelStart", "Start with (%):", "Начать с (%):"},
    {"main:LabelEnd", "end with (%):", "закончить (%):"},
    {"main:LabelStep", "step (%):", "шаг (%):"},
    {"main:LabelPeriod", "Period (ms):", "Период (мс):"},
    {"main:ButtonStartStop", "Start", "Старт"},
    {"main:ButtonLanguage", "Language", "Язык"},
    {"main:ButtonTestHistory", "History…", "История…"},
    // The figures under the hysteresis chart, before any sweep.
    {"main:LabelHystMax", "Max hysteresis: —", "Макс. гистерезис: —"},
    {"main:LabelHystMean", "Mean hysteresis: —", "Средний гистерезис: —"},
    {"main:LabelHystSpan", "Span: —", "Размах: —"},
    {"channel1:LabelDutyCycle", "Duty cycle:", "Скважность:"},
    {"channel1:LabelDutyCycle2", "Duty cycle:", "Скважность:"},
    {"channel1:LabelMeasured", "(Measured)", "(Измеренное)"},
    {"channel1:LabelSet", "(Set)", "(Заданное)"},
    {"channel1:LabelCurrent", "Current", "Ток"},
    {"channel2:LabelDutyCycle", "Duty cycle:", "Скважность:"},
    {"channel2:LabelDutyCycle2", "Duty cycle:", "Скважность:"},
    {"channel2:LabelMeasured", "(Measured)", "(Измеренное)"},
    {"channel2:LabelSet", "(Set)", "(Заданное)"},
    {"channel2:LabelCurrent", "Current", "Ток"},
    {"link:NConnectionSettings", "Manual Connection Settings", "Настройки соединения вручную"},
    {"link:NSearchOnConnect", "Automatic search", "Автоматический поиск"},
    {"link:NReconnectAutomatically", "Reconnect automatically", "Переподключаться автоматически"},
    {"link:sButtonConnect", "Connect to device", "Подключиться к устройству"}, // the hint
    {"firmware:ButtonCheckUpdatesGetDevices", "Get Device list from Server", "Получить список устройств"},
    {"firmware:LabelSelectDevice", "Select Device:", "Автоматически выбрать:"},
    {"firmware:ButtonCheckUpdates", "Check Updates for Device", "Получить список прошивок"},
    {"firmware:LabelSelectFirmware", "Select Firmware:", "Выберите прошивку:"},
    {"firmware:CheckBoxShowAllDevices", "Show all devices", "Показать все устройства"},
    {"firmware:ButtonDownloadFirmware", "Download", "Скачать"},
    {"firmware:ButtonSaveToFile", "Save to disk", "Сохранить на диск"},
    {"firmware:LabelDownload", "Download:", "Скачано:"},
    {"firmware:ButtonLaunchProgram", "Launch the Program", "Запустить программу"},
    {"firmware:CheckBoxDeleteOld", "Update (Delete old version)", "Обновить (Удалить старую версию)"},
    {"firmware:ListViewDevices", "Devices", "Устройства"}, // the column
    {"firmware:group0", "Firmwares", "Прошивки"},
    {"firmware:group1", "Computer Programs (exe)", "Компьютерные программы (exe)"},
    {"firmware:group2", "Other", "Другое"},
};

} // namespace

class TestTamrelLanguage : public QObject {
    Q_OBJECT

    // A private port folder: simulators of other test runs stay out of the search.
    TPrivateRuntime RuntimeDir;
    std::unique_ptr<TFormTamrel> Form;

    void Open() {
        Form = std::make_unique<TFormTamrel>();
        new TFormFirmwareUpdate(Form.get()); // as the program creates it
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    }

    // What the named control shows now.
    QString Shown(const QString &where) const {
        const QString part = where.section(':', 0, 0);
        QString name = where.section(':', 1);
        QObject *root = Form.get();
        if (part == QLatin1String("channel1")) root = Form->FrameTamrelChannel1;
        if (part == QLatin1String("channel2")) root = Form->FrameTamrelChannel2;
        if (part == QLatin1String("link")) root = Form->DeviceLink;
        if (part == QLatin1String("firmware")) {
            TFrameInternetUpdates *frame = FormFirmwareUpdate->FrameInternetUpdates;
            if (name.startsWith(QLatin1String("group")))
                return frame->FileGroupItem(name.mid(5).toInt())->text(0);
            if (name == QLatin1String("ListViewDevices"))
                return frame->ListViewDevices->headerItem()->text(0);
            root = frame;
        }
        int item = -1;
        if (name.contains(u'#')) {
            item = name.section(u'#', 1).toInt();
            name = name.section(u'#', 0, 0);
        }
        QObject *o = root->findChild<QObject *>(name);
        if (!o) return QStringLiteral("<no %1>").arg(where);
        if (auto *group = qobject_cast<TRadioGroup *>(o)) return group->Item(item)->text();
        if (o == Form->sTabSheetChartPosition || o == Form->sTabSheetChartHyst)
            return Form->sPageControl1->tabText(Form->sPageControl1->indexOf(qobject_cast<QWidget *>(o)));
        if (o == Form->DeviceLink->sButtonConnect) return Form->DeviceLink->sButtonConnect->toolTip();
        if (auto *label = qobject_cast<QLabel *>(o)) return label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(o)) return button->text();
        if (auto *action = qobject_cast<QAction *>(o)) return action->text();
        return QStringLiteral("<%1 has no text>").arg(where);
    }

    // The firmware window takes the language when it is opened or when the language changes;
    // before that it shows the Russian set it is laid out with.
    void VerifyAll(TFormTamrel::TLanguage language, bool firmwareToo = true) {
        const bool russian = language == TFormTamrel::lgRussian;
        QCOMPARE(Form->Language(), language);
        for (const TText &t : Texts) {
            if (!firmwareToo && QByteArray(t.Where).startsWith("firmware:")) continue;
            QCOMPARE(Shown(QLatin1String(t.Where)), QString::fromUtf8(russian ? t.Russian : t.English));
        }
        // The texts other parts take from the chosen set. (The settings window puts its English
        // "not found" text in place itself when it opens.)
        if (firmwareToo)
            QCOMPARE(NotSuitableText, russian ? QStringLiteral("Прошивка не подходит для этого устройства")
                                              : QStringLiteral("Firmware is not suitable for this device"));
        QCOMPARE(UseEnglish, !russian);
        if (russian) QCOMPARE(DeviceNotFoundText, QStringLiteral("Устройство не найдено"));
        QCOMPARE(Form->NLanguageRussian->isChecked(), russian);
        QCOMPARE(Form->NLanguageEnglish->isChecked(), !russian);
    }

private slots:
    void initTestCase() { QVERIFY(RuntimeDir.InUse()); }
    // Only the choice is removed: the settings file holds what other tests keep too.
    void init() {
        QSettings(TFormTamrel::SettingsFilePath(), QSettings::IniFormat).remove(QStringLiteral("Interface"));
    }
    void cleanup() { Form.reset(); }

    void switchesBothWaysLive() {
        Open();
        VerifyAll(TFormTamrel::lgEnglish, false);
        for (const auto language : {TFormTamrel::lgRussian, TFormTamrel::lgEnglish, TFormTamrel::lgRussian,
                                    TFormTamrel::lgEnglish}) {
            (language == TFormTamrel::lgRussian ? Form->NLanguageRussian : Form->NLanguageEnglish)->trigger();
            VerifyAll(language);
        }
    }

    // A text that follows the state: the sweep's button says "Stop" in either language while a
    // sweep runs, and the language's "Start" once it has stopped... in English, as the sweep
    // always writes it.
    void stateTextsFollow() {
        Open();
        TFakeDeviceLink link;
        Form->SetLinkForTest(&link);
        link.Connected = true;
        Form->ButtonStartStop->click();
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Stop"));
        Form->NLanguageRussian->trigger();
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Stop"));
        Form->ButtonStartStop->click();
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));
        Form->NLanguageEnglish->trigger();
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));
        Form->SetLinkForTest(nullptr);
    }

    // The connect button's hint follows the state and the language: switched while connected
    // to a simulated tester it reads the connected text of the new language, and after the
    // disconnect the not-connected one of the language then chosen.
    void connectedHintFollows() {
        TSimPty sim;
        QString error;
        QVERIFY2(sim.Start({}, &error), qPrintable(error));
        Open();
        TFrameDeviceLinkComMorva *link = Form->DeviceLink;
        link->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(link->IsConnected(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(link->CurrentImageIndex(), 1, 10000);
        QCOMPARE(link->sButtonConnect->toolTip(), QStringLiteral("Device Connected"));
        for (const bool russian : {true, false, true}) {
            (russian ? Form->NLanguageRussian : Form->NLanguageEnglish)->trigger();
            QCOMPARE(link->sButtonConnect->toolTip(),
                     russian ? QStringLiteral("Связь установлена") : QStringLiteral("Device Connected"));
        }
        link->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(!link->IsConnected(), 10000);
        QCOMPARE(link->sButtonConnect->toolTip(), QStringLiteral("Подключиться к устройству"));
        Form->NLanguageEnglish->trigger();
        QCOMPARE(link->sButtonConnect->toolTip(), QStringLiteral("Connect to device"));
        Form.reset();
    }

    // The choice is kept in the settings file and applied when the next window starts; the
    // firmware window opened from it takes the same language.
    void choiceRememberedAndAppliedAtStart() {
        Open();
        Form->NLanguageRussian->trigger();
        Form.reset();
        QCOMPARE(QSettings(TFormTamrel::SettingsFilePath(), QSettings::IniFormat)
                     .value(QStringLiteral("Interface/Language"))
                     .toString(),
                 QStringLiteral("ru"));
        Open();
        VerifyAll(TFormTamrel::lgRussian);
        Form->ButtonUpdateFirmwareClick();
        QCOMPARE(NotSuitableText, QStringLiteral("Прошивка не подходит для этого устройства"));
        QCOMPARE(Shown(QStringLiteral("firmware:ButtonDownloadFirmware")), QStringLiteral("Скачать"));
        Form->NLanguageEnglish->trigger();
        Form.reset();
        Open();
        VerifyAll(TFormTamrel::lgEnglish, false);
    }
};

TAMREL_TEST_MAIN(TestTamrelLanguage)
#include "tst_TamrelLanguage.moc"
