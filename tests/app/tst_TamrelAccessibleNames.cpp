// The image buttons and the numeric fields of the main window have names on the accessibility
// bus: a screen reader announces them, and a scripted check finds each one by its name in the
// window's accessible tree rather than by its position. The names follow the window's
// language.
#include "TestMain.h"
#include "uFormTamrel.h"

#include <QAccessible>

#include <memory>

class TestTamrelAccessibleNames : public QObject {
    Q_OBJECT

    std::unique_ptr<TFormTamrel> English;
    std::unique_ptr<TFormTamrel> Russian;

    // A control by its path of object names below the window, e.g. "FrameTamrelChannel2/FloatEditCurrent".
    static QWidget *Control(QWidget *Form, const QString &Path) {
        QWidget *W = Form;
        for (const QString &Name : Path.split(QLatin1Char('/'))) {
            W = W ? W->findChild<QWidget *>(Name) : nullptr;
        }
        return W;
    }

    // Every control of the accessible tree below Root whose name is Name. A caption that labels
    // a control carries the same name as static text; it is no control.
    static void FindByName(QAccessibleInterface *Root, const QString &Name, QList<QObject *> &Found) {
        for (int I = 0; I < Root->childCount(); ++I) {
            QAccessibleInterface *Child = Root->child(I);
            if (!Child) continue;
            if (Child->role() != QAccessible::StaticText && Child->text(QAccessible::Name) == Name)
                Found.append(Child->object());
            FindByName(Child, Name, Found);
        }
    }

private slots:
    void initTestCase() {
        English = std::make_unique<TFormTamrel>();
        Russian = std::make_unique<TFormTamrel>();
        Russian->DoRus();
    }

    void cleanupTestCase() {
        Russian.reset();
        English.reset();
    }

    void controlIsFoundByName_data() {
        QTest::addColumn<bool>("InRussian");
        QTest::addColumn<QString>("Path");
        QTest::addColumn<QString>("Name");
        auto Row = [](const char *Tag, bool InRussian, const char *Path, const QString &Name) {
            QTest::newRow(Tag) << InRussian << QString::fromLatin1(Path) << Name;
        };
        // Image buttons: the caption beside them, or what they save.
        Row("connect", false, "DeviceLink/sButtonConnect", QStringLiteral("Find and connect:"));
        Row("manual control", false, "sSpeedButtonManualControl", QStringLiteral("Manual control:"));
        Row("screenshot, position tab", false, "sSpeedButton1",
            QStringLiteral("Chart screenshot (Current position)"));
        Row("screenshot, hysteresis tab", false, "ButtonSaveWindow",
            QStringLiteral("Chart screenshot (Measure hysteresis)"));
        // The sweep's settings: their captions.
        Row("sweep start", false, "FloatEditDutyStart", QStringLiteral("Start with (%):"));
        Row("sweep end", false, "FloatEditDutyEnd", QStringLiteral("end with (%):"));
        Row("sweep step", false, "FloatEditStep", QStringLiteral("step (%):"));
        Row("sweep period", false, "FloatEditPeriod", QStringLiteral("Period (ms):"));
        // The channel panels' fields: the panel's title, the field's captions and its unit.
        for (int Ch : {1, 2}) {
            const QString Panel = QStringLiteral("FrameTamrelChannel%1/").arg(Ch);
            const QString Title = QStringLiteral("Channel %1: ").arg(Ch);
            auto Field = [&](const char *Tag, const char *Edit, const char *Name) {
                QTest::newRow(qPrintable(Title + QLatin1String(Tag)))
                    << false << Panel + QLatin1String(Edit) << Title + QLatin1String(Name);
            };
            Field("input voltage", "FloatEditSetupVin", "Vin (Set), V");
            Field("manual duty", "FloatEditManualPWM", "Duty cycle, %");
            Field("manual volts", "FloatEditManualVolts", "Duty cycle, V");
            Field("output voltage", "FloatEditPosition", "Vout (Measured), V");
            Field("current", "FloatEditCurrent", "Current, A");
        }
        // After DoRus the names are those of the Russian captions.
        Row("ru connect", true, "DeviceLink/sButtonConnect", QStringLiteral("Найти и подключиться:"));
        Row("ru manual control", true, "sSpeedButtonManualControl", QStringLiteral("Ручное управление:"));
        Row("ru screenshot, position tab", true, "sSpeedButton1",
            QStringLiteral("Скриншот графика (Текущее положение)"));
        Row("ru screenshot, hysteresis tab", true, "ButtonSaveWindow",
            QStringLiteral("Скриншот графика (Измерять гистерезис)"));
        Row("ru sweep start", true, "FloatEditDutyStart", QStringLiteral("Начать с (%):"));
        Row("ru sweep period", true, "FloatEditPeriod", QStringLiteral("Период (мс):"));
        Row("ru channel 1 input voltage", true, "FrameTamrelChannel1/FloatEditSetupVin",
            QStringLiteral("Channel 1: Vin (Заданное), V"));
        Row("ru channel 1 manual duty", true, "FrameTamrelChannel1/FloatEditManualPWM",
            QStringLiteral("Channel 1: Скважность, %"));
        Row("ru channel 2 manual volts", true, "FrameTamrelChannel2/FloatEditManualVolts",
            QStringLiteral("Channel 2: Скважность, V"));
        Row("ru channel 2 output voltage", true, "FrameTamrelChannel2/FloatEditPosition",
            QStringLiteral("Channel 2: Vout (Измеренное), V"));
        Row("ru channel 2 current", true, "FrameTamrelChannel2/FloatEditCurrent",
            QStringLiteral("Channel 2: Ток, A"));
    }

    void controlIsFoundByName() {
        QFETCH(bool, InRussian);
        QFETCH(QString, Path);
        QFETCH(QString, Name);
        TFormTamrel *Form = InRussian ? Russian.get() : English.get();
        QWidget *W = Control(Form, Path);
        QVERIFY2(W, qPrintable(Path));

        // What a screen reader announces for the control itself.
        QAccessibleInterface *Iface = QAccessible::queryAccessibleInterface(W);
        QVERIFY(Iface);
        QCOMPARE(Iface->text(QAccessible::Name), Name);

        // And what a scripted check finds by that name in the window's tree: this control alone.
        QList<QObject *> Found;
        FindByName(QAccessible::queryAccessibleInterface(Form), Name, Found);
        QCOMPARE(Found.size(), 1);
        QCOMPARE(Found.first(), W);
    }
};

TAMREL_TEST_MAIN(TestTamrelAccessibleNames)
#include "tst_TamrelAccessibleNames.moc"
