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
    static QWidget *Control(QWidget *form, const QString &path) {
        QWidget *w = form;
        for (const QString &name : path.split(QLatin1Char('/'))) {
            w = w ? w->findChild<QWidget *>(name) : nullptr;
        }
        return w;
    }

    // Every control of the accessible tree below Root whose name is Name. A caption that labels
    // a control carries the same name as static text; it is no control.
    static void FindByName(QAccessibleInterface *root, const QString &name, QList<QObject *> &found) {
        for (int i = 0; i < root->childCount(); ++i) {
            QAccessibleInterface *child = root->child(i);
            if (!child) continue;
            if (child->role() != QAccessible::StaticText && child->text(QAccessible::Name) == name)
                found.append(child->object());
            FindByName(child, name, found);
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
        QTest::addColumn<bool>("inRussian");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        auto row = [](const char *tag, bool inRussian, const char *path, const QString &name) {
            QTest::newRow(tag) << inRussian << QString::fromLatin1(path) << name;
        };
        // Image buttons: the caption beside them, or what they save.
        row("connect", false, "DeviceLink/sButtonConnect", QStringLiteral("Find and connect:"));
        row("manual control", false, "sSpeedButtonManualControl", QStringLiteral("Manual control:"));
        row("screenshot, position tab", false, "sSpeedButton1",
            QStringLiteral("Chart screenshot (Current position)"));
        row("screenshot, hysteresis tab", false, "ButtonSaveWindow",
            QStringLiteral("Chart screenshot (Measure hysteresis)"));
        // The sweep's settings: their captions.
        row("sweep start", false, "FloatEditDutyStart", QStringLiteral("Start with (%):"));
        row("sweep end", false, "FloatEditDutyEnd", QStringLiteral("end with (%):"));
        row("sweep step", false, "FloatEditStep", QStringLiteral("step (%):"));
        row("sweep period", false, "FloatEditPeriod", QStringLiteral("Period (ms):"));
        // The channel panels' fields: the panel's title, the field's captions and its unit.
        for (int ch : {1, 2}) {
            const QString Panel = QStringLiteral("FrameTamrelChannel%1/").arg(ch);
            const QString title = QStringLiteral("Channel %1: ").arg(ch);
            auto field = [&](const char *tag, const char *edit, const char *name) {
                QTest::newRow(qPrintable(title + QLatin1String(tag)))
                    << false << Panel + QLatin1String(edit) << title + QLatin1String(name);
            };
            field("input voltage", "FloatEditSetupVin", "Vin (Set), V");
            field("manual duty", "FloatEditManualPWM", "Duty cycle, %");
            field("manual volts", "FloatEditManualVolts", "Duty cycle, V");
            field("output voltage", "FloatEditPosition", "Vout (Measured), V");
            field("current", "FloatEditCurrent", "Current, A");
        }
        // After DoRus the names are those of the Russian captions.
        row("ru connect", true, "DeviceLink/sButtonConnect", QStringLiteral("Найти и подключиться:"));
        row("ru manual control", true, "sSpeedButtonManualControl", QStringLiteral("Ручное управление:"));
        row("ru screenshot, position tab", true, "sSpeedButton1",
            QStringLiteral("Скриншот графика (Текущее положение)"));
        row("ru screenshot, hysteresis tab", true, "ButtonSaveWindow",
            QStringLiteral("Скриншот графика (Измерять гистерезис)"));
        row("ru sweep start", true, "FloatEditDutyStart", QStringLiteral("Начать с (%):"));
        row("ru sweep period", true, "FloatEditPeriod", QStringLiteral("Период (мс):"));
        row("ru channel 1 input voltage", true, "FrameTamrelChannel1/FloatEditSetupVin",
            QStringLiteral("Channel 1: Vin (Заданное), V"));
        row("ru channel 1 manual duty", true, "FrameTamrelChannel1/FloatEditManualPWM",
            QStringLiteral("Channel 1: Скважность, %"));
        row("ru channel 2 manual volts", true, "FrameTamrelChannel2/FloatEditManualVolts",
            QStringLiteral("Channel 2: Скважность, V"));
        row("ru channel 2 output voltage", true, "FrameTamrelChannel2/FloatEditPosition",
            QStringLiteral("Channel 2: Vout (Измеренное), V"));
        row("ru channel 2 current", true, "FrameTamrelChannel2/FloatEditCurrent",
            QStringLiteral("Channel 2: Ток, A"));
    }

    void controlIsFoundByName() {
        QFETCH(bool, inRussian);
        QFETCH(QString, path);
        QFETCH(QString, name);
        TFormTamrel *form = inRussian ? Russian.get() : English.get();
        QWidget *w = Control(form, path);
        QVERIFY2(w, qPrintable(path));

        // What a screen reader announces for the control itself.
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
        QVERIFY(iface);
        QCOMPARE(iface->text(QAccessible::Name), name);

        // And what a scripted check finds by that name in the window's tree: this control alone.
        QList<QObject *> found;
        FindByName(QAccessible::queryAccessibleInterface(form), name, found);
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first(), w);
    }
};

TAMREL_TEST_MAIN(TestTamrelAccessibleNames)
#include "tst_TamrelAccessibleNames.moc"
