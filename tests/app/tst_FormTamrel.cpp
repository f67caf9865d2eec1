// The main window without a device: received values are fed through OnReceivedRegister and a
// fake link catches what the window would send.
#include "CompFloatEdit.h"
#include "TestMain.h"
#include "uBalloonHint.h"
#include "uDialogTestLimits.h"
#include "uFakeDeviceLink.h"
#include "uFormTamrel.h"
#include "uFrameTamrelChannel.h"
#include "uKvApplication.h"
#include "uPlatformTick.h"
#include "uTamrelCharts.h"
#include "uTamrelWidgets.h"
#include "uTestRecordServerStore.h"
#include "uTestRecordStore.h"
#include "uTestRecordWorker.h"
#include "uTickFreeze.h"

#include <QSignalSpy>

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QSlider>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStyleOptionMenuItem>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <qcustomplot.h>

#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace {

// Notes how a menu draws each of its items: check mark, radio mark or neither.
class TMenuItemRecorder : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override {
        if (element == CE_MenuItem)
            if (auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option))
                CheckTypes[item->text] = int(item->checkType);
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    mutable QHash<QString, int> CheckTypes;
};

// Runs a statement on the SQLite file at path through a connection of its own.
void RunSql(const QString &path, const QString &statement) {
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery query(db);
        QVERIFY2(query.exec(statement), qPrintable(statement + ": " + query.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

class TestFormTamrel : public QObject {
    Q_OBJECT

    std::unique_ptr<TFormTamrel> Form;
    std::unique_ptr<TFakeDeviceLink> Fake;
    // The records of each test go to a folder of their own; errors shown are caught here.
    std::unique_ptr<QTemporaryDir> Records;
    QStringList Errors;

    void NewForm() {
        Form = std::make_unique<TFormTamrel>();
        Form->RecordFolder = Records->path();
    }
    QString RecordFile() const { return QDir(Records->path()).filePath(TTestRecordStore::FileName); }
    int StoredRecords() const {
        if (!QFileInfo::exists(RecordFile())) return 0;
        // The records' worker may be making the file right now: not readable yet is none yet.
        try {
            TTestRecordStore store(Records->path(), TTestRecordStore::saReadOnly);
            return int(store.ListRecords().size());
        } catch (const ETestRecordStore &) {
            return 0;
        }
    }
    static void ForgetSettings() {
        QSettings settings(TFormTamrel::SettingsFilePath(), QSettings::IniFormat);
        settings.remove(QStringLiteral("TestLimits"));
        settings.remove(QStringLiteral("Sweep"));
    }
    // A whole sweep against the fake tester, which answers at once, the head starting from
    // rest on its rising branch; returns once the sweep has ended.
    void RunSweep(int start, int end, int step) {
        FTesterFalling = false;
        Form->FloatEditDutyStart->SetValueInt(start);
        Form->FloatEditDutyEnd->SetValueInt(end);
        Form->FloatEditStep->SetValueInt(step);
        Form->ButtonStartStop->click();
        QCOMPARE(Form->DiagramMode, dmForward);
        AnswerPositionReads();
        for (int guard = 0; guard < 200 && Form->DiagramMode != dmNone; ++guard) {
            Form->TimerDrawChartHystTimer();
            AnswerPositionReads();
        }
        QCOMPARE(Form->DiagramMode, dmNone);
    }

    // A value arriving from the tester: stored in the engine's mirror, then reported.
    void Receive(quint8 regNum, qint64 value) {
        TKvRegister &r = Fake->Protocol->Registers[regNum];
        VariantToRegister(r, QVariant::fromValue(value));
        Form->OnReceivedRegister(Fake->Protocol.get(), regNum);
    }
    // A value in another type than the map's, stored as the engine stores it: the engine
    // adopts the type the tester sends.
    void ReceiveRaw(quint8 regNum, TKvRegisterType type, const QByteArray &raw) {
        TKvRegister &r = Fake->Protocol->Registers[regNum];
        r.RegType = type;
        r.RawData = raw;
        r.Known = true;
        Form->OnReceivedRegister(Fake->Protocol.get(), regNum);
    }
    void Connect() {
        Fake->Connected = true;
        Form->SetLinkForTest(Fake.get());
    }
    // The tester answers the position reads sent since the last call as a tester does: each
    // with the position at the duty in force when the read arrived (duty / 10 V: a head that
    // follows at once), in the order sent.
    // A head with backlash reads TesterBacklashMv higher while its duty last went down.
    qsizetype FAnsweredUpTo = 0;
    qint64 FTesterDuty = 0;
    bool FTesterFalling = false;
    qint64 TesterBacklashMv = 0;
    void AnswerPositionReads() {
        QVector<qint64> answers;
        for (; FAnsweredUpTo < Fake->Sent.size(); ++FAnsweredUpTo) {
            const TSentCommand &c = Fake->Sent[FAnsweredUpTo];
            if (c.Command == 7 && c.RegNum == 5) {
                if (c.Value != FTesterDuty) FTesterFalling = c.Value < FTesterDuty;
                FTesterDuty = c.Value;
            }
            if (c.Command == 8 && c.RegNum == 2)
                answers << FTesterDuty * 100 + (FTesterFalling ? TesterBacklashMv : 0);
        }
        for (qint64 a : answers)
            Receive(2, a);
    }
    TFrameTamrelChannel *Ch1() const { return Form->FrameTamrelChannel1; }
    TFrameTamrelChannel *Ch2() const { return Form->FrameTamrelChannel2; }
    // The setting field that shows a register, if any.
    TFloatEdit *SettingField(quint8 regNum) const {
        for (TFrameTamrelChannel *c : {Ch1(), Ch2()}) {
            if (regNum == c->regSetupVin) return c->FloatEditSetupVin;
            if (regNum == c->regManualControlPWM) return c->FloatEditManualPWM;
            if (regNum == c->regManualControlVolts) return c->FloatEditManualVolts;
        }
        return nullptr;
    }
    // What the user sees of a register: the text of its field or label, the slider or bar
    // beside it, and the number of points it has on the charts.
    QString Seen(quint8 regNum) const {
        auto bar = [](QProgressBar *b) {
            return b->value() < b->minimum() ? QStringLiteral("none") : QString::number(b->value());
        };
        auto field = [](TFloatEdit *e) { return QLatin1Char('\'') + e->text() + QLatin1Char('\''); };
        switch (regNum) {
        case 2:
            return QStringLiteral("%1, bar %2, chart %3, sweep %4")
                .arg(field(Ch1()->FloatEditPosition), bar(Ch1()->ProgressBarVout))
                .arg(Form->SeriesPositionVoltage->data()->size())
                .arg(Form->SeriesHyst1->PointCount());
        case 11:
            return QStringLiteral("%1, bar %2")
                .arg(field(Ch2()->FloatEditPosition), bar(Ch2()->ProgressBarVout));
        case 8:
            return QStringLiteral("%1, chart %2")
                .arg(field(Ch1()->FloatEditCurrent))
                .arg(Form->SeriesPositionCurrent->data()->size());
        case 13:
            return field(Ch2()->FloatEditCurrent);
        case 3:
            return QStringLiteral("item %1").arg(Form->RadioGroupResistiveHead->ItemIndex());
        case 10:
            return QStringLiteral("item %1").arg(Form->RadioGroupPumpType->ItemIndex());
        case 4:
            return Form->sSpeedButtonManualControl->isChecked() ? QStringLiteral("down")
                                                                : QStringLiteral("up");
        case 14:
            return QStringLiteral("%1 %2").arg(Form->NManualInPercent->isChecked() ? "[%]" : "%",
                                               Form->NManualInVolt->isChecked() ? "[V]" : "V");
        case 7:
            return Form->LabelTemperature->text();
        default:
            break;
        }
        for (TFrameTamrelChannel *c : {Ch1(), Ch2()}) {
            if (regNum == c->regSetupVin)
                return QStringLiteral("%1, slider %2")
                    .arg(field(c->FloatEditSetupVin))
                    .arg(c->TrackBarVin->value());
            if (regNum == c->regManualControlPWM)
                return QStringLiteral("%1, slider %2")
                    .arg(field(c->FloatEditManualPWM))
                    .arg(c->TrackBarManualPWM->value());
            if (regNum == c->regManualControlVolts)
                return QStringLiteral("%1, slider %2")
                    .arg(field(c->FloatEditManualVolts))
                    .arg(c->TrackBarManualVolts->value());
        }
        return QString();
    }

private slots:
    void init() {
        FAnsweredUpTo = 0;
        FTesterDuty = 0;
        FTesterFalling = false;
        TesterBacklashMv = 0;
        KvPlatform::SetTickCountOffset(0);
        ForgetSettings();
        Records = std::make_unique<QTemporaryDir>();
        Errors.clear();
        TKvApplication::SetErrorDisplay([this](const QString &message) { Errors << message; });
        NewForm();
        Fake = std::make_unique<TFakeDeviceLink>();
    }
    void cleanup() {
        Form.reset();
        Fake.reset();
        Records.reset();
        TKvApplication::SetErrorDisplay({});
        ForgetSettings();
        KvPlatform::SetTickCountOffset(0);
    }

    void windowLayout() {
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        QCOMPARE(Form->windowTitle(), QStringLiteral("Tamrel 1.6"));
        QCOMPARE(Form->centralWidget()->size() + QSize(0, 0), QSize(621, 704));
        const char *names[] = {"sPanelLink",
                               "LabelFindAndConnect",
                               "DeviceLink",
                               "sButtonConnect",
                               "LabelManualControl",
                               "sSpeedButtonManualControl",
                               "ButtonUpdateFirmware",
                               "sPanelMain",
                               "sPanelHeadType",
                               "LabePanelHeadType",
                               "RadioGroupPumpType",
                               "RadioGroupResistiveHead",
                               "PanelTemperature",
                               "LabelHeadTemperature",
                               "LabelTemperature",
                               "FrameTamrelChannel1",
                               "FrameTamrelChannel2",
                               "sPageControl1",
                               "sTabSheetChartPosition",
                               "sTabSheetChartHyst",
                               "PanelChart",
                               "ChartPosition",
                               "sCheckBoxPositionFast",
                               "sSpeedButton1",
                               "ChartHyst",
                               "Label7",
                               "PanelHistSettings",
                               "FloatEditDutyStart",
                               "FloatEditDutyEnd",
                               "FloatEditStep",
                               "FloatEditPeriod",
                               "ButtonStartStop",
                               "ButtonSaveWindow",
                               "FloatEditSetupVin",
                               "TrackBarVin",
                               "FloatEditManualPWM",
                               "TrackBarManualPWM",
                               "FloatEditManualVolts",
                               "TrackBarManualVolts",
                               "FloatEditPosition",
                               "FloatEditCurrent",
                               "ProgressBarVout"};
        for (const char *n : names)
            QVERIFY2(Form->findChild<QWidget *>(QLatin1String(n)), n);
        QVERIFY(Form->findChild<QTimer *>(QStringLiteral("TimerUpdateRegisters")));
        QVERIFY(Form->findChild<QAction *>(QStringLiteral("CheckBoxAutoStartStop"))->isChecked());
        QVERIFY(Form->NManualInPercent->isChecked());
        QVERIFY(!Form->NManualInVolt->isChecked());
        QVERIFY(Form->ButtonUpdateFirmware->isHidden());
        QCOMPARE(Form->sSpeedButtonManualControl->size(), QSize(68, 68));
        QCOMPARE(Form->FrameTamrelChannel1->size(), QSize(289, 224));
        QCOMPARE(Form->FrameTamrelChannel2->Label1->text(), QStringLiteral("Channel 2:"));
        QVERIFY(Form->FrameTamrelChannel2->LabelVout->isHidden());
        QVERIFY(!Form->FrameTamrelChannel1->LabelVout->isHidden());
        QCOMPARE(Form->LabelTemperature->text(), QStringLiteral("_"));
        QVERIFY(!Form->TimerUpdateRegisters->isActive());
        QVERIFY(Form->TimerDrawChartHyst->isActive());
        // Channel 2 is always under manual control; channel 1 starts with the input voltage.
        QVERIFY(Ch1()->PanelVin->isVisible());
        QVERIFY(Form->FrameTamrelChannel2->PanelManualPWM->isVisible());
        QCOMPARE(Form->PanelChart->geometry(), Form->sPageControl1->geometry());
        QVERIFY(Form->PanelChart->isHidden());
    }

    void manualControlReceivedNotWrittenBack() {
        Connect();
        Receive(4, 2); // any value but 0 means on
        QVERIFY(Form->sSpeedButtonManualControl->isChecked());
        QVERIFY(Ch1()->PanelManualPWM->isVisibleTo(Form.get()));
        QVERIFY(!Ch1()->PanelVin->isVisibleTo(Form.get()));
        QVERIFY(Fake->Writes().isEmpty());
        QVERIFY(!Form->SkipWriteRegister);
        // The user's toggle writes once.
        Form->sSpeedButtonManualControl->click();
        QCOMPARE(Fake->Writes().size(), 1);
        QCOMPARE(Fake->Writes()[0].RegNum, quint8(4));
        QCOMPARE(Fake->Writes()[0].Value, 0);
    }

    void unitRegisterOutOfRangeUnchecksBoth() {
        Connect();
        Form->sSpeedButtonManualControl->click();
        Receive(14, 1);
        QVERIFY(Form->NManualInVolt->isChecked());
        QVERIFY(Ch1()->PanelManualVolts->isVisibleTo(Form.get()));
        Receive(14, 2);
        QVERIFY(!Form->NManualInVolt->isChecked());
        QVERIFY(!Form->NManualInPercent->isChecked());
        QVERIFY(Ch1()->PanelManualPWM->isVisibleTo(Form.get()));
        QCOMPARE(Fake->Writes().size(), 1); // only the user's toggle
    }

    // The regulation unit is one choice of two: the menu draws both items as radio items, and
    // choosing either one leaves exactly that one checked.
    void regulationUnitIsOneExclusiveChoice() {
        Connect();
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        QMenu *menu = Form->PopupMenuManualInPercent;
        TMenuItemRecorder recorder;
        menu->setStyle(&recorder);
        menu->popup(Form->sSpeedButtonManualControl->mapToGlobal(QPoint(10, 10)));
        QTRY_VERIFY(menu->isVisible());
        menu->grab();
        menu->hide();
        menu->setStyle(nullptr);
        QCOMPARE(recorder.CheckTypes.value(QStringLiteral("Regulate in %")),
                 int(QStyleOptionMenuItem::Exclusive));
        QCOMPARE(recorder.CheckTypes.value(QStringLiteral("Regulate in V")),
                 int(QStyleOptionMenuItem::Exclusive));

        QVERIFY(Form->NManualInPercent->isChecked());
        Form->NManualInVolt->trigger();
        QVERIFY(Form->NManualInVolt->isChecked());
        QVERIFY(!Form->NManualInPercent->isChecked());
        Form->NManualInVolt->trigger(); // choosing the chosen item again keeps it
        QVERIFY(Form->NManualInVolt->isChecked());
        QVERIFY(!Form->NManualInPercent->isChecked());
        Form->NManualInPercent->trigger();
        QVERIFY(Form->NManualInPercent->isChecked());
        QVERIFY(!Form->NManualInVolt->isChecked());
        QVector<qint64> units;
        for (const auto &w : Fake->Writes())
            if (w.RegNum == 14) units << w.Value;
        QCOMPARE(units, (QVector<qint64>{1, 1, 0}));
    }

    void pumpTypeDisablesHeadType() {
        Connect();
        Receive(10, 1);
        QCOMPARE(Form->RadioGroupPumpType->ItemIndex(), 1);
        QVERIFY(!Form->RadioGroupResistiveHead->isEnabled());
        QVERIFY(Fake->Writes().isEmpty());
        Form->RadioGroupPumpType->Item(0)->click();
        QVERIFY(Form->RadioGroupResistiveHead->isEnabled());
        QCOMPARE(Fake->Writes().size(), 1);
        QCOMPARE(Fake->Writes()[0].RegNum, quint8(10));
        QCOMPARE(Fake->Writes()[0].Value, 0);
        // A head type above 1 shows no item.
        Receive(3, 1);
        QCOMPARE(Form->RadioGroupResistiveHead->ItemIndex(), 1);
        Receive(3, 2);
        QCOMPARE(Form->RadioGroupResistiveHead->ItemIndex(), -1);
        QCOMPARE(Fake->Writes().size(), 1);
    }

    void pumpTypeWhileNotConnectedSendsNothing() {
        Form->SetLinkForTest(Fake.get()); // not connected
        Form->RadioGroupPumpType->Item(1)->click();
        QVERIFY(!Form->RadioGroupResistiveHead->isEnabled());
        Form->RadioGroupResistiveHead->Item(1)->click();
        Ch1()->TrackBarVin->setValue(100);
        QCOMPARE(Ch1()->FloatEditSetupVin->ValueFloat(), 1.0L); // sliders and fields still move together
        QVERIFY(Fake->Sent.isEmpty());
    }

    void temperature_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("25.3") << "C" << qint64(253) << QStringLiteral("25.3 °C");
        QTest::newRow("-1.5") << "C" << qint64(-15) << QStringLiteral("-1.5 °C");
        QTest::newRow("zero") << "C" << qint64(0) << QStringLiteral("0.0 °C");
        QTest::newRow("comma locale") << "de_DE" << qint64(-15) << QStringLiteral("-1,5 °C");
    }
    void temperature() {
        QFETCH(QString, locale);
        QFETCH(qint64, value);
        QFETCH(QString, shown);
        const QLocale old;
        QLocale::setDefault(QLocale(locale));
        Receive(7, value);
        QLocale::setDefault(old);
        QCOMPARE(Form->LabelTemperature->text(), shown);
    }

    // A value that is no finite number within the map's type is shown as unknown, is not
    // charted and is not written back, whatever type the tester sent it in.
    void valueThatIsNoNumber_data() {
        QTest::addColumn<quint8>("regNum");
        QTest::addColumn<qint64>("good");
        QTest::addColumn<QString>("seenGood");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("seenUnknown");
        struct TShown {
            quint8 RegNum;
            qint64 Good;
            const char *SeenGood;
            const char *SeenUnknown;
        };
        const TShown shown[] = {
            {2, 1500, "'1.500', bar 1500, chart 1, sweep 0", "'', bar none, chart 1, sweep 0"},
            {3, 1, "item 1", "item -1"},
            {4, 1, "down", "down"},
            {5, 40, "'40', slider 40", "'', slider 40"},
            {6, 2500, "'2.500', slider 250", "'', slider 250"},
            {7, 253, "25.3 °C", "_"},
            {8, 150, "'1.50', chart 1", "'', chart 1"},
            {9, 60, "'60', slider 60", "'', slider 60"},
            {10, 1, "item 1", "item -1"},
            {11, 1500, "'1.500', bar 1500", "'', bar none"},
            {12, 3300, "'3.300', slider 330", "'', slider 330"},
            {13, 250, "'2.50'", "''"},
            {14, 1, "% [V]", "% [V]"},
            {15, 75, "'7.5', slider 75", "'', slider 75"},
            {16, 120, "'12.0', slider 120", "'', slider 120"},
        };
        auto le = [](auto v) {
            QByteArray b(sizeof v, '\0');
            std::memcpy(b.data(), &v, sizeof v);
            return b;
        };
        const float fInf = std::numeric_limits<float>::infinity();
        const struct {
            const char *Name;
            TKvRegisterType Type;
            QByteArray Raw;
        } bad[] = {
            {"float NaN", rtFloat, le(std::numeric_limits<float>::quiet_NaN())},
            {"float +Inf", rtFloat, le(fInf)},
            {"float -Inf", rtFloat, le(-fInf)},
            {"double -Inf", rtDouble, le(-std::numeric_limits<double>::infinity())},
            {"double 1e12, beyond the map's type", rtDouble, le(1e12)},
            {"text", rtString, QByteArray("abc")},
            {"empty", rtString, QByteArray()},
        };
        for (const TShown &s : shown)
            for (const auto &b : bad)
                QTest::addRow("register %d, %s", s.RegNum, b.Name)
                    << s.RegNum << s.Good << QString::fromUtf8(s.SeenGood) << int(b.Type) << b.Raw
                    << QString::fromUtf8(s.SeenUnknown);
    }
    void valueThatIsNoNumber() {
        QFETCH(quint8, regNum);
        QFETCH(qint64, good);
        QFETCH(QString, seenGood);
        QFETCH(int, type);
        QFETCH(QByteArray, raw);
        QFETCH(QString, seenUnknown);
        Connect();
        KvPlatform::SetTickCountOffset(1000000);
        Receive(regNum, good);
        QCOMPARE(Seen(regNum), seenGood);
        const bool sweeping = regNum == 2;
        if (sweeping) {
            // A sweep waits for its sample: sampling right after each step, it asks for the
            // start duty's position as it starts.
            Form->CheckBoxSampleAfterStep->setChecked(true);
            Form->ButtonStartStop->click();
            QCOMPARE(Form->DiagramMode, dmForward);
        }
        const qsizetype writesBefore = Fake->Writes().size();
        KvPlatform::SetTickCountOffset(1000000 + 1000); // the read-out may refresh again
        ReceiveRaw(regNum, TKvRegisterType(type), raw);
        QCOMPARE(Seen(regNum), seenUnknown);
        // Nothing is written back, neither now nor when the user presses Enter in the field.
        if (TFloatEdit *e = SettingField(regNum)) QTest::keyClick(e, Qt::Key_Return);
        QCOMPARE(Seen(regNum), seenUnknown);
        QCOMPARE(Fake->Writes().size(), writesBefore);
        if (sweeping) {
            // The sweep's request stayed open: the next reading that is a number is its sample.
            const qint32 mv = 1200;
            ReceiveRaw(2, rtS32, QByteArray(reinterpret_cast<const char *>(&mv), sizeof mv));
            QCOMPARE(Form->SeriesHyst1->PointCount(), 1);
            QCOMPARE(Form->SeriesHyst1->Point(0), QPointF(0, 1.2));
        }
    }

    // Values of another type than the map's that are numbers within its type are shown.
    void valueOfAnotherType_data() {
        QTest::addColumn<quint8>("regNum");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("seenValue");
        auto le = [](auto v) {
            QByteArray b(sizeof v, '\0');
            std::memcpy(b.data(), &v, sizeof v);
            return b;
        };
        QTest::newRow("temperature as float") << quint8(7) << int(rtFloat) << le(253.0f) << "25.3 °C";
        QTest::newRow("temperature as double") << quint8(7) << int(rtDouble) << le(-15.0) << "-1.5 °C";
        QTest::newRow("temperature as text") << quint8(7) << int(rtString) << QByteArray("253") << "25.3 °C";
        QTest::newRow("temperature as float beyond 32 bits") << quint8(7) << int(rtFloat) << le(3e9f) << "_";
        QTest::newRow("Vin as S32") << quint8(6) << int(rtS32) << le(qint32(4200)) << "'4.200', slider 420";
        QTest::newRow("Vin as U32 beyond 16 bits")
            << quint8(6) << int(rtU32) << le(quint32(70000)) << "'', slider 0";
        QTest::newRow("duty as S8 below 0") << quint8(5) << int(rtS8) << le(qint8(-1)) << "'', slider 0";
        QTest::newRow("duty as float, rounded")
            << quint8(5) << int(rtFloat) << le(41.6f) << "'42', slider 42";
        QTest::newRow("current as double") << quint8(8) << int(rtDouble) << le(-150.0) << "'0.00', chart 1";
        QTest::newRow("pump type as U32") << quint8(10) << int(rtU32) << le(quint32(2)) << "item 2";
    }
    void valueOfAnotherType() {
        QFETCH(quint8, regNum);
        QFETCH(int, type);
        QFETCH(QByteArray, raw);
        QFETCH(QString, seenValue);
        Connect();
        ReceiveRaw(regNum, TKvRegisterType(type), raw);
        QCOMPARE(Seen(regNum), seenValue);
        QCOMPARE(Fake->Writes().size(), 0);
    }

    void drawOftenGoesOnAfterUnknownReading() {
        Connect();
        Form->sCheckBoxPositionFast->click();
        ReceiveRaw(2, rtFloat, QByteArray("\x00\x00\xc0\x7f", 4)); // NaN
        QCOMPARE(Form->SeriesPositionVoltage->data()->size(), 0);
        QCOMPARE(Form->TimeX, -1);
        QCOMPARE(Fake->Reads(), QVector<quint8>{2});
        QVERIFY(Fake->Writes().isEmpty());
    }

    void firmwareNameBecomesHint() {
        TKvRegister &r = Fake->Protocol->Registers[0];
        r.RawData = QByteArray("Tavik 2.1\0\0", 11);
        Form->OnReceivedRegister(Fake->Protocol.get(), 0);
        QCOMPARE(Form->ButtonUpdateFirmware->toolTip(), QStringLiteral("Tavik 2.1"));
    }

    void skipWriteResetWhenShowingThrows() {
        Connect();
        Ch1()->FloatEditSetupVin->OnValidate = [](QObject *) {
            throw std::runtime_error("shown value refused");
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, Receive(6, 1000));
        QVERIFY(!Form->SkipWriteRegister);
    }

    void startStopRegisterOnConnect_data() {
        QTest::addColumn<bool>("autoStartStop");
        QTest::addColumn<qint64>("written");
        QTest::newRow("auto on") << true << qint64(1);
        QTest::newRow("auto off") << false << qint64(0);
    }
    void startStopRegisterOnConnect() {
        QFETCH(bool, autoStartStop);
        QFETCH(qint64, written);
        Form->CheckBoxAutoStartStop->setChecked(autoStartStop);
        Form->CheckBoxAutoStartStopClick();
        Connect();
        Form->OnDeviceLinkStartStop(Fake.get(), OnStart, false);
        QVERIFY(Form->TimerUpdateRegisters->isActive());
        QVERIFY(Fake->KeepConnection);
        const auto w = Fake->Writes();
        QCOMPARE(w.size(), 1);
        QCOMPARE(w[0].RegNum, quint8(1));
        QCOMPARE(w[0].Value, written);
        QCOMPARE(Fake->Reads().value(0), quint8(0)); // the firmware name, read once
        // The link reports the stop: polling ends and nothing is written.
        Fake->Connected = false;
        Form->OnDeviceLinkStartStop(Fake.get(), OnStop, true);
        QVERIFY(!Form->TimerUpdateRegisters->isActive());
        QCOMPARE(Fake->Writes().size(), 1);
    }

    void pollingList_data() {
        QTest::addColumn<bool>("inVolts");
        QTest::addColumn<QVector<quint8>>("order");
        QTest::newRow("percent") << false << QVector<quint8>{6, 5, 12, 9, 3, 10, 4, 14};
        QTest::newRow("volts") << true << QVector<quint8>{6, 5, 15, 12, 9, 16, 3, 10, 4, 14};
    }
    void pollingList() {
        QFETCH(bool, inVolts);
        QFETCH(QVector<quint8>, order);
        (inVolts ? Form->NManualInVolt : Form->NManualInPercent)->trigger();
        QCOMPARE(Form->PolledRegisters(), order);
        // Without a connection a tick sends nothing.
        Form->SetLinkForTest(Fake.get());
        Form->TimerUpdateRegistersTimer();
        QVERIFY(Fake->Sent.isEmpty());
    }

    // ---- Channel panel -----------------------------------------------------------------------

    void sliderFieldCoupling() {
        Connect();
        Ch1()->TrackBarVin->setValue(250);
        QCOMPARE(Ch1()->FloatEditSetupVin->text(), QStringLiteral("2.500"));
        Form->FrameTamrelChannel2->TrackBarVin->setValue(250);
        Ch1()->TrackBarManualVolts->setValue(75);
        QCOMPARE(Ch1()->FloatEditManualVolts->text(), QStringLiteral("7.5"));
        Ch1()->TrackBarManualPWM->setValue(33);
        QCOMPARE(Ch1()->FloatEditManualPWM->ValueInt(), 33);
        const auto w = Fake->Writes();
        QCOMPARE(w.size(), 4);
        QCOMPARE(w[0].RegNum, quint8(6));
        QCOMPARE(w[0].Value, 2500);
        QCOMPARE(w[1].RegNum, quint8(12));
        QCOMPARE(w[1].Value, 2500);
        QCOMPARE(w[2].RegNum, quint8(15));
        QCOMPARE(w[2].Value, 75);
        QCOMPARE(w[3].RegNum, quint8(5));
        QCOMPARE(w[3].Value, 33);
    }

    void typedValueMovesSliderAndWrites() {
        Connect();
        Form->show();
        TFloatEdit *e = Ch1()->FloatEditSetupVin;
        e->setFocus();
        e->selectAll();
        QTest::keyClicks(e, QStringLiteral("1.234"));
        QTest::keyClick(e, Qt::Key_Return);
        QCOMPARE(Ch1()->TrackBarVin->value(), 123);
        const auto w = Fake->Writes();
        QVERIFY(!w.isEmpty());
        QCOMPARE(w.last().RegNum, quint8(6));
        QCOMPARE(w.last().Value, 1234);
    }

    void receivedSettingMovesSliderWithoutWriting() {
        Connect();
        Receive(6, 4200);
        QCOMPARE(Ch1()->FloatEditSetupVin->text(), QStringLiteral("4.200"));
        QCOMPARE(Ch1()->TrackBarVin->value(), 420);
        Receive(9, 70);
        QCOMPARE(Form->FrameTamrelChannel2->TrackBarManualPWM->value(), 70);
        Receive(16, 120);
        QCOMPARE(Form->FrameTamrelChannel2->TrackBarManualVolts->value(), 120);
        QVERIFY(Fake->Writes().isEmpty());
    }

    void clampedReadoutsUnclampedCharts() {
        Receive(2, 6000);
        QCOMPARE(Ch1()->FloatEditPosition->text(), QStringLiteral("5.000"));
        QCOMPARE(Form->SeriesPositionVoltage->data()->size(), 1);
        QCOMPARE(Form->SeriesPositionVoltage->data()->at(0)->value, 6.0);
        QCOMPARE(Form->ChartPosition->yAxis->range().upper, 7.0);
        QCOMPARE(Ch1()->ProgressBarVout->value(), 5000);
        Receive(8, -150);
        QCOMPARE(Ch1()->FloatEditCurrent->text(), QStringLiteral("0.00"));
        QCOMPARE(Form->SeriesPositionCurrent->data()->at(0)->value, -1.5);
        // Channel 2's values reach only its panel.
        Receive(11, 1500);
        QCOMPARE(Form->FrameTamrelChannel2->ProgressBarVout->value(), 1500);
        QCOMPARE(Form->SeriesPositionVoltage->data()->size(), 1);
    }

    void readoutThrottled() {
        TTickFreeze frozen; // the spans below are the offsets', not the machine's speed
        TFrameTamrelChannel *c = Ch1();
        KvPlatform::SetTickCountOffset(1000000);
        Receive(2, 1000);
        QCOMPARE(c->FloatEditPosition->text(), QStringLiteral("1.000"));
        KvPlatform::SetTickCountOffset(1000000 + 100);
        Receive(2, 2000);
        QCOMPARE(c->ProgressBarVout->value(), 2000);
        QCOMPARE(c->FloatEditPosition->text(), QStringLiteral("1.000"));
        KvPlatform::SetTickCountOffset(1000000 + 250);
        Receive(2, 3000);
        QCOMPARE(c->FloatEditPosition->text(), QStringLiteral("3.000"));
        // Across the wrap of the tick counter.
        KvPlatform::SetTickCountOffset(quint32(0) - KvPlatform::TickCount() + KvPlatform::TickCountOffset() -
                                       50);
        Receive(2, 4000);
        QCOMPARE(c->FloatEditPosition->text(), QStringLiteral("4.000"));
        KvPlatform::SetTickCountOffset(KvPlatform::TickCountOffset() + 100);
        Receive(2, 4500);
        QCOMPARE(c->FloatEditPosition->text(), QStringLiteral("4.000"));
    }

    void manualControlSections_data() {
        QTest::addColumn<bool>("manual");
        QTest::addColumn<bool>("inVolts");
        QTest::addColumn<int>("shown"); // 0 input voltage, 1 duty, 2 volts
        QTest::newRow("manual, percent") << true << false << 1;
        QTest::newRow("manual, volts") << true << true << 2;
        QTest::newRow("not manual, volts") << false << true << 0;
        QTest::newRow("not manual, percent") << false << false << 0;
    }
    void manualControlSections() {
        QFETCH(bool, manual);
        QFETCH(bool, inVolts);
        QFETCH(int, shown);
        Ch1()->SetManualControl(manual, inVolts);
        QCOMPARE(!Ch1()->PanelVin->isHidden(), shown == 0);
        QCOMPARE(!Ch1()->PanelManualPWM->isHidden(), shown == 1);
        QCOMPARE(!Ch1()->PanelManualVolts->isHidden(), shown == 2);
    }

    // ---- Position chart ----------------------------------------------------------------------

    void leftAxisGrowth_data() {
        QTest::addColumn<qint64>("millivolts");
        QTest::addColumn<double>("max");
        QTest::newRow("4.9 fits") << qint64(4900) << 5.0;
        QTest::newRow("5.3") << qint64(5300) << 6.0;
        QTest::newRow("5.7") << qint64(5700) << 7.0;
        QTest::newRow("6.5 tie to even") << qint64(6500) << 7.0;
        QTest::newRow("7.5 tie to even") << qint64(7500) << 9.0;
    }
    void leftAxisGrowth() {
        QFETCH(qint64, millivolts);
        QFETCH(double, max);
        Receive(2, millivolts);
        QCOMPARE(Form->ChartPosition->yAxis->range().upper, max);
        // A current above the axis grows it by the same rule.
        Receive(8, 1250);
        QCOMPARE(Form->ChartPosition->yAxis->range().upper, qMax(max, 13.0));
    }

    void sampleWrap_data() {
        QTest::addColumn<bool>("drawOften");
        QTest::addColumn<int>("full");
        QTest::newRow("normal") << false << 100;
        QTest::newRow("draw often") << true << 1000;
    }
    void sampleWrap() {
        QFETCH(bool, drawOften);
        QFETCH(int, full);
        if (drawOften) Form->sCheckBoxPositionFast->click();
        QCOMPARE(Form->ChartPosition->xAxis->range().upper, double(full));
        Receive(2, 8000); // grows the left axis
        for (int i = 1; i < full; ++i)
            Receive(2, 1000);
        QCOMPARE(Form->SeriesPositionVoltage->data()->size(), full);
        QCOMPARE((Form->SeriesPositionVoltage->data()->constEnd() - 1)->key, double(full - 1));
        QCOMPARE(Form->ChartPosition->yAxis->range().upper, 9.0);
        Receive(2, 1000); // the next sample empties the chart
        QCOMPARE(Form->SeriesPositionVoltage->data()->size(), 0);
        QCOMPARE(Form->SeriesPositionCurrent->data()->size(), 0);
        QCOMPARE(Form->TimeX, -1);
        QCOMPARE(Form->ChartPosition->yAxis->range().upper, 5.0);
        Receive(8, 100); // a current before any voltage lands at X = -1
        QCOMPARE(Form->SeriesPositionCurrent->data()->at(0)->key, -1.0);
        Receive(2, 1000);
        QCOMPARE(Form->SeriesPositionVoltage->data()->at(0)->key, 0.0);
    }

    void drawOftenRequestsNextReading() {
        Connect();
        Receive(2, 1000);
        Receive(8, 100);
        QVERIFY(Fake->Reads().isEmpty());
        Form->sCheckBoxPositionFast->click();
        QCOMPARE(Form->TimeX, -1);
        Receive(2, 1000);
        Receive(8, 100);
        QCOMPARE(Fake->Reads(), (QVector<quint8>{2, 8}));
        QVERIFY(Fake->Writes().isEmpty());
    }

    // The reads "Draw often" puts on the line: one per value while the tester only answers;
    // after values may have come unasked (a measured register nothing asks for, the sweep's
    // own read, or a second gone by) a read of the firmware name as a fence, the chains paused
    // until it is answered and then one read each again; reads that go unanswered are sent
    // again.
    void drawOftenChainsResynchronise() {
        // Time moves only by the offsets below: a loaded machine taking a second between two
        // steps would otherwise resynchronise the chains or send reads again on its own.
        TTickFreeze frozen;
        Connect();
        Form->sCheckBoxPositionFast->click();
        auto readsSince = [&](qsizetype &mark) {
            const QVector<quint8> all = Fake->Reads();
            const QVector<quint8> added = all.mid(mark);
            mark = all.size();
            return added;
        };
        auto name = [&] {
            Fake->Protocol->Registers[0].RawData = QByteArray("Tavik 2.1");
            Form->OnReceivedRegister(Fake->Protocol.get(), 0);
        };
        qsizetype mark = 0;
        Receive(2, 1000);
        Receive(8, 100);
        Receive(2, 1000);
        Receive(8, 100);
        QCOMPARE(readsSince(mark), (QVector<quint8>{2, 8, 2, 8}));

        Receive(7, 250); // the tester sends by itself
        QCOMPARE(readsSince(mark), QVector<quint8>{});
        Receive(2, 1000);
        QCOMPARE(readsSince(mark), QVector<quint8>{0});
        Receive(8, 100);
        Receive(2, 1000);
        Receive(11, 500);
        QCOMPARE(readsSince(mark), QVector<quint8>{}); // paused until the fence is answered
        name();
        QCOMPARE(readsSince(mark), (QVector<quint8>{2, 8}));
        name(); // no fence waits: nothing
        Receive(2, 1000);
        QCOMPARE(readsSince(mark), QVector<quint8>{2});

        // The sweep's own position read: its answer will reach the chain as well.
        Form->ButtonStartStopClick();
        Form->TimerDrawChartHystTimer();
        QCOMPARE(readsSince(mark), QVector<quint8>{2});
        Receive(8, 100);
        QCOMPARE(readsSince(mark), QVector<quint8>{0});
        name();
        QCOMPARE(readsSince(mark), (QVector<quint8>{2, 8}));
        Form->ButtonStartStopClick();

        // Unanswered reads are sent again after the protocol's time-out.
        KvPlatform::SetTickCountOffset(KvPlatform::TickCountOffset() + Fake->Protocol->TimeOut + 50);
        QTRY_VERIFY_WITH_TIMEOUT(Fake->Reads().size() >= mark + 2, 2000);
        QCOMPARE(readsSince(mark), (QVector<quint8>{2, 8}));
        // Without any sign of unasked values the chains are re-synchronised once a second.
        Receive(2, 1000);
        QCOMPARE(readsSince(mark), QVector<quint8>{2});
        KvPlatform::SetTickCountOffset(KvPlatform::TickCountOffset() + 1000);
        Receive(8, 100);
        QCOMPARE(readsSince(mark), QVector<quint8>{0});
        name();
        QCOMPARE(readsSince(mark), (QVector<quint8>{2, 8}));
        // Switched off, values ask for nothing.
        Form->sCheckBoxPositionFast->click();
        Receive(2, 1000);
        Receive(8, 100);
        QCOMPARE(readsSince(mark), QVector<quint8>{});
        QVERIFY(Fake->Writes().size() >= 2); // only the sweep's duty writes
        for (const auto &w : Fake->Writes())
            QCOMPARE(w.RegNum, quint8(w.RegNum == 4 ? 4 : 5));
    }

    // ---- Hysteresis sweep --------------------------------------------------------------------

    void sweep_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("step");
        QTest::addColumn<QVector<int>>("rising");
        QTest::addColumn<QVector<int>>("falling");
        QTest::addColumn<int>("axisMax");
        QTest::addColumn<bool>("afterStep");
        for (const bool afterStep : {false, true}) {
            const char *mode = afterStep ? "right after each step" : "settled";
            QTest::addRow("0..50 by 10, %s", mode) << 0 << 50 << 10 << QVector<int>{0, 10, 20, 30, 40, 50}
                                                   << QVector<int>{40, 30, 20, 10} << 60 << afterStep;
            QTest::addRow("5..23 by 5, %s", mode)
                << 5 << 23 << 5 << QVector<int>{5, 10, 15, 20} << QVector<int>{15, 10} << 30 << afterStep;
            QTest::addRow("start above end, %s", mode)
                << 60 << 50 << 5 << QVector<int>{60} << QVector<int>{} << 60 << afterStep;
            QTest::addRow("start equals end, %s", mode)
                << 30 << 30 << 5 << QVector<int>{30} << QVector<int>{} << 40 << afterStep;
            QTest::addRow("end 100, %s", mode)
                << 90 << 100 << 10 << QVector<int>{90, 100} << QVector<int>{} << 100 << afterStep;
            QTest::addRow("end 0, %s", mode)
                << 0 << 0 << 1 << QVector<int>{0} << QVector<int>{} << 10 << afterStep;
        }
    }
    void sweep() {
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(int, step);
        QFETCH(QVector<int>, rising);
        QFETCH(QVector<int>, falling);
        QFETCH(int, axisMax);
        QFETCH(bool, afterStep);
        Connect();
        Form->CheckBoxSampleAfterStep->setChecked(afterStep);
        Form->FloatEditDutyStart->SetValueInt(start);
        Form->FloatEditDutyEnd->SetValueInt(end);
        Form->FloatEditStep->SetValueInt(step);
        Form->ButtonStartStop->click();
        QCOMPARE(Form->DiagramMode, dmForward);
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Stop"));
        QVERIFY(Form->sSpeedButtonManualControl->isChecked());
        QCOMPARE(Form->ChartHyst->xAxis->range().upper, double(axisMax));
        QCOMPARE(Form->TimerDrawChartHyst->interval(), 100);
        // A tester that answers every position read at once, with the duty in force / 10 V.
        AnswerPositionReads();
        for (int guard = 0; guard < 100 && Form->DiagramMode != dmNone; ++guard) {
            Form->TimerDrawChartHystTimer();
            AnswerPositionReads();
        }
        QCOMPARE(Form->DiagramMode, dmNone);
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));
        QVERIFY(!Form->TimerDrawChartHyst->isActive());
        QVERIFY(Form->sSpeedButtonManualControl->isChecked());
        QCOMPARE(Ch1()->FloatEditManualPWM->ValueInt(), start);
        TColoredLineSeries *s = Form->SeriesHyst1;
        QCOMPARE(s->PointCount(), rising.size() + falling.size());
        const QColor red(255, 0, 0), lightRed(255, 144, 96);
        for (int i = 0; i < s->PointCount(); ++i) {
            const bool up = i < rising.size();
            const int x = up ? rising[i] : falling[i - rising.size()];
            QCOMPARE(s->Point(i).x(), double(x));
            QCOMPARE(s->Point(i).y(), x / 10.0);
            QCOMPARE(s->PointColor(i), up ? red : lightRed);
        }
        QCOMPARE(Form->SeriesHyst2->PointCount(), 0);
        // Register 5 followed the duty: every step, then back to the start.
        QVector<qint64> duties;
        for (const auto &w : Fake->Writes())
            if (w.RegNum == 5) duties << w.Value;
        QCOMPARE(duties.first(), qint64(start));
        QCOMPARE(duties.last(), qint64(start));
        QCOMPARE(duties.size(), rising.size() + falling.size() + 1);
    }

    void sweepStepZeroRepeatsStart() {
        Connect();
        Form->FloatEditDutyStart->SetValueInt(20);
        Form->FloatEditStep->SetValueInt(0);
        Form->ButtonStartStopClick();
        for (int i = 0; i < 5; ++i) {
            Form->TimerDrawChartHystTimer();
            AnswerPositionReads();
        }
        QCOMPARE(Form->DiagramMode, dmForward);
        QCOMPARE(Form->SeriesHyst1->PointCount(), 5);
        Form->ButtonStartStopClick();
        QCOMPARE(Form->DiagramMode, dmNone);
    }

    void sweepIgnoresStaleDutyReadings() {
        // A polled duty reading asked for before a step's write arrives after it.
        Connect();
        Form->FloatEditDutyEnd->SetValueInt(50);
        Form->FloatEditStep->SetValueInt(10);
        Form->ButtonStartStopClick();
        Form->TimerDrawChartHystTimer(); // duty 10
        AnswerPositionReads();
        Receive(5, 0); // the stale reading
        QCOMPARE(Ch1()->FloatEditManualPWM->ValueInt(), 10);
        Form->TimerDrawChartHystTimer(); // duty 20, not 10 again
        AnswerPositionReads();
        QCOMPARE(Ch1()->FloatEditManualPWM->ValueInt(), 20);
        QCOMPARE(Form->SeriesHyst1->Point(1).x(), 10.0);
        // Channel 2's duty and, after the sweep, channel 1's are shown as always.
        Receive(9, 33);
        QCOMPARE(Form->FrameTamrelChannel2->FloatEditManualPWM->ValueInt(), 33);
        Form->ButtonStartStopClick();
        Receive(5, 44);
        QCOMPARE(Ch1()->FloatEditManualPWM->ValueInt(), 44);
        QCOMPARE(Ch1()->TrackBarManualPWM->value(), 44);
    }

    void sweepStopsWhenLinkLost() {
        Connect();
        Form->ButtonStartStopClick();
        Form->TimerDrawChartHystTimer();
        QCOMPARE(Form->DiagramMode, dmForward);
        Fake->Connected = false;
        const int sentBefore = Fake->Sent.size();
        Form->TimerDrawChartHystTimer();
        QCOMPARE(Form->DiagramMode, dmNone);
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));
        QCOMPARE(Fake->Sent.size(), sentBefore);
    }

    void sweepButtonWithoutLink() {
        Form->FloatEditDutyStart->SetValueInt(15);
        Form->ButtonStartStop->click();
        QCOMPARE(Form->DiagramMode, dmNone);
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));
        QCOMPARE(Ch1()->FloatEditManualPWM->ValueInt(), 15);
        Form->TimerDrawChartHystTimer(); // a tick without a sweep does nothing
        QCOMPARE(Form->DiagramMode, dmNone);
        Connect();
        Form->ButtonStartStop->click();
        QCOMPARE(Form->DiagramMode, dmForward);
    }

    // A sweep whose start is not below its end measures one point; the chart shows it.
    void sweepSinglePointIsDrawn_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::newRow("start above end") << 60 << 50;
        QTest::newRow("start equals end") << 30 << 30;
    }
    void sweepSinglePointIsDrawn() {
        QFETCH(int, start);
        QFETCH(int, end);
        Connect();
        Form->show();
        Form->sPageControl1->setCurrentWidget(Form->sTabSheetChartHyst);
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        Form->FloatEditDutyStart->SetValueInt(start);
        Form->FloatEditDutyEnd->SetValueInt(end);
        Form->FloatEditStep->SetValueInt(5);
        Form->ButtonStartStop->click();
        Form->TimerDrawChartHystTimer();
        QCOMPARE(Form->DiagramMode, dmNone);
        Receive(2, 3000); // 3 V at the start duty, read at the end of its period
        QCOMPARE(Form->SeriesHyst1->PointCount(), 1);
        Form->ChartHyst->replot(QCustomPlot::rpImmediateRefresh);
        const QImage chart = Form->ChartHyst->grab().toImage();
        const QPointF at = Form->SeriesHyst1->coordsToPixels(double(start), 3.0) * chart.devicePixelRatio();
        int red = 0;
        for (int dx = -5; dx <= 5; ++dx)
            for (int dy = -5; dy <= 5; ++dy) {
                const QColor c = chart.pixelColor(at.toPoint() + QPoint(dx, dy));
                red += c.red() > 200 && c.green() < 90 && c.blue() < 90;
            }
        QVERIFY2(red >= 9, qPrintable(QStringLiteral("%1 red pixels at the point").arg(red)));
    }

    // Start without a connection says why nothing happens, in the window's language.
    void sweepButtonWithoutLinkSaysWhy_data() {
        QTest::addColumn<bool>("russian");
        QTest::addColumn<QString>("message");
        QTest::newRow("English") << false << QStringLiteral("Not connected: connect to the device first");
        QTest::newRow("Russian") << true
                                 << QStringLiteral("Нет подключения: сначала подключитесь к устройству");
    }
    void sweepButtonWithoutLinkSaysWhy() {
        QFETCH(bool, russian);
        QFETCH(QString, message);
        if (russian) Form->DoRus();
        Form->show();
        Form->sPageControl1->setCurrentWidget(Form->sTabSheetChartHyst);
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        QVERIFY(!Form->BalloonHintInd->isVisible());
        Form->ButtonStartStop->click();
        QCOMPARE(Form->DiagramMode, dmNone);
        QVERIFY(Form->BalloonHintInd->isVisible());
        QCOMPARE(Form->BalloonHintInd->Title(), message);
        QPushButton *b = Form->ButtonStartStop;
        const QRect buttonRect(b->mapToGlobal(QPoint(0, 0)), b->size());
        QVERIFY(buttonRect.adjusted(0, 0, 0, 1).contains(Form->BalloonHintInd->TipAt()));
        QVERIFY(Form->BalloonHintInd->frameGeometry()
                    .adjusted(-1, -1, 1, 1)
                    .contains(Form->BalloonHintInd->TipAt()));
        // Once connected, Start starts and says nothing.
        Form->BalloonHintInd->hide();
        Connect();
        Form->ButtonStartStop->click();
        QCOMPARE(Form->DiagramMode, dmForward);
        QVERIFY(!Form->BalloonHintInd->isVisible());
    }

    // ---- Figures, verdict and records of a sweep -------------------------------------------------

    // A sweep stopped by the user shows the figures of the part done; it is stored once its
    // branches could be compared at one duty at least.
    void sweepStoppedEarly_data() {
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("points");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("span");
        // 0..30 by 10: ticks read 0, 10, 20, 30 rising, then 20, 10 falling.
        QTest::newRow("on the rising half") << 3 << 3 << false << "2.000";
        QTest::newRow("after a falling point") << 5 << 5 << true << "3.000";
    }
    void sweepStoppedEarly() {
        QFETCH(int, ticks);
        QFETCH(int, points);
        QFETCH(bool, stored);
        QFETCH(QString, span);
        Connect();
        TesterBacklashMv = 300;
        Form->FloatEditDutyEnd->SetValueInt(30);
        Form->FloatEditStep->SetValueInt(10);
        int storedCalls = 0;
        Form->OnRecordStored = [&](const TTestRecord &) { ++storedCalls; };
        Form->ButtonStartStop->click();
        for (int i = 0; i < ticks; ++i) {
            Form->TimerDrawChartHystTimer();
            AnswerPositionReads();
        }
        Form->ButtonStartStop->click();
        QCOMPARE(Form->DiagramMode, dmNone);
        QVERIFY(Form->LastRecord());
        QCOMPARE(Form->LastRecord()->Points.size(), points);
        QCOMPARE(Form->LabelHystSpan->text(), QStringLiteral("Span: %1 V").arg(span));
        QCOMPARE(Form->LabelHystMax->text(), stored
                                                 ? QStringLiteral("Max hysteresis: 0.300 V (10.0 %) at 20 %")
                                                 : QStringLiteral("Max hysteresis: —"));
        QCOMPARE(Form->MarkerMaxHysteresis->visible(), stored);
        QTRY_COMPARE_WITH_TIMEOUT(storedCalls, stored ? 1 : 0, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(StoredRecords(), stored ? 1 : 0, 20000);
    }

    // The last step's position is read just before the sweep stops; an answer that never
    // comes is given up, and the sweep is finished with what it has.
    void lastSampleLostIsGivenUp() {
        Connect();
        Form->FloatEditDutyEnd->SetValueInt(10);
        Form->FloatEditStep->SetValueInt(10);
        Form->ButtonStartStop->click();
        Form->TimerDrawChartHystTimer(); // reads 0, writes 10
        AnswerPositionReads();
        Form->TimerDrawChartHystTimer(); // reads 10 and stops
        QCOMPARE(Form->DiagramMode, dmNone);
        QVERIFY(!Form->LastRecord());
        QTRY_VERIFY_WITH_TIMEOUT(Form->LastRecord(), 5000);
        QCOMPARE(Form->LastRecord()->Points.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(StoredRecords(), 1, 20000);
        // An answer that comes after all belongs to no sweep.
        AnswerPositionReads();
        QCOMPARE(Form->SeriesHyst1->PointCount(), 1);
    }

    // The figures under the chart are shown again in the language chosen after the sweep, and
    // back, with the same values.
    void figuresFollowLanguage() {
        Connect();
        TesterBacklashMv = 200;
        RunSweep(0, 30, 10);
        const QString english = QStringLiteral("Max hysteresis: 0.200 V (6.7 %) at 20 %");
        QCOMPARE(Form->LabelHystMax->text(), english);
        const QString mean = Form->LabelHystMean->text().section(QStringLiteral(": "), 1);
        const QString span = Form->LabelHystSpan->text().section(QStringLiteral(": "), 1);
        QVERIFY(mean != QStringLiteral("—") && span != QStringLiteral("—"));
        Form->ApplyLanguage(TFormTamrel::lgRussian);
        QCOMPARE(Form->LabelHystMax->text(), QStringLiteral("Макс. гистерезис: 0.200 V (6.7 %) при 20 %"));
        QCOMPARE(Form->LabelHystMean->text(), QStringLiteral("Средний гистерезис: ") + mean);
        QCOMPARE(Form->LabelHystSpan->text(), QStringLiteral("Размах: ") + span);
        Form->ApplyLanguage(TFormTamrel::lgEnglish);
        QCOMPARE(Form->LabelHystMax->text(), english);
        QCOMPARE(Form->LabelHystMean->text(), QStringLiteral("Mean hysteresis: ") + mean);
        QCOMPARE(Form->LabelHystSpan->text(), QStringLiteral("Span: ") + span);
    }

    // A record the store refuses is said, with the head and the reason; the window goes on,
    // the figures are shown, and once the store takes records again the next one is stored.
    void recordWriteFailureIsShown() {
        Connect();
        TesterBacklashMv = 200;
        Form->EditHeadSerial->setText(QStringLiteral("H-17"));
        int storedCalls = 0;
        Form->OnRecordStored = [&](const TTestRecord &) { ++storedCalls; };
        RunSweep(0, 30, 10);
        QCOMPARE(Errors, QStringList());
        // The file holds the record before the window hears of it: both are waited for, or the
        // late word of this record would count as the next one's.
        QTRY_COMPARE_WITH_TIMEOUT(storedCalls, 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(StoredRecords(), 1, 20000);

        RunSql(RecordFile(), QStringLiteral("CREATE TRIGGER disk_full BEFORE INSERT ON test_record "
                                            "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"));
        storedCalls = 0;
        RunSweep(0, 30, 10);
        QTRY_COMPARE_WITH_TIMEOUT(Errors.size(), 1, 20000);
        QVERIFY2(Errors[0].startsWith(QStringLiteral("The test record of head \"H-17\" was not stored: ")) &&
                     Errors[0].contains(QStringLiteral("database or disk is full")),
                 qPrintable(Errors[0]));
        QCOMPARE(storedCalls, 0);
        QCOMPARE(Form->LabelHystMax->text(), QStringLiteral("Max hysteresis: 0.200 V (6.7 %) at 20 %"));
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));

        RunSql(RecordFile(), QStringLiteral("DROP TRIGGER disk_full"));
        RunSweep(0, 30, 10);
        QCOMPARE(Errors.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(storedCalls, 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(StoredRecords(), 2, 20000);
    }

    // A data folder that cannot be made is said once; sweeps go on and show their figures.
    void unwritableDataFolderSaidOnce() {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("not-a-folder")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Form->RecordFolder = dir.filePath(QStringLiteral("not-a-folder/records"));
        Connect();
        TesterBacklashMv = 100;
        QSignalSpy failed(Form->RecordWorker(), &TTestRecordWorker::StoreFailed);
        QStringList ids;
        for (int i = 0; i < 3; ++i) {
            RunSweep(0, 20, 10);
            QVERIFY(Form->LastRecord());
            ids << Form->LastRecord()->Id;
            QCOMPARE(Form->LabelHystMax->text(), QStringLiteral("Max hysteresis: 0.100 V (5.0 %) at 10 %"));
        }
        QCOMPARE(ids.size(), QSet<QString>(ids.begin(), ids.end()).size());
        // Every write tried and failed; said once.
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 3, 20000);
        QCOMPARE(Errors.size(), 1);
        QVERIFY2(Errors[0].startsWith(QStringLiteral("Test records cannot be stored: ")) &&
                     Errors[0].contains(QStringLiteral("not-a-folder")),
                 qPrintable(Errors[0]));
    }

    // With a record server in the settings, records go to it; while it cannot be reached they
    // wait in the local file, and nothing is said.
    void serverAwayRecordsWaitInQueue() {
        {
            QSettings settings(TFormTamrel::SettingsFilePath(), QSettings::IniFormat);
            SaveRecordServerSettings(settings, {QStringLiteral("host=%1/no-server port=5 dbname=tamrel "
                                                               "user=bench connect_timeout=2")
                                                    .arg(Records->path())});
        }
        NewForm();
        Connect();
        int storedCalls = 0;
        Form->OnRecordStored = [&](const TTestRecord &) { ++storedCalls; };
        RunSweep(0, 20, 10);
        QCOMPARE(Errors, QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(storedCalls, 1, 20000);
        TTestRecordWorker *worker = Form->RecordWorker();
        QVERIFY(worker->ServerSet());
        QTRY_VERIFY_WITH_TIMEOUT(!worker->State().ServerError.isEmpty(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(worker->State().Waiting, 1, 20000);
        TTestRecordStore queue(Records->path(), TTestRecordStore::saReadOnly);
        QCOMPARE(queue.ListRecords().value(0).Id, Form->LastRecord()->Id);
        QSettings settings(TFormTamrel::SettingsFilePath(), QSettings::IniFormat);
        SaveRecordServerSettings(settings, {});
    }

    // A change of the sampling during a sweep applies to the next sweep.
    void samplingChangeAppliesToNextSweep() {
        Connect();
        Form->FloatEditDutyEnd->SetValueInt(20);
        Form->FloatEditStep->SetValueInt(10);
        Form->ButtonStartStop->click();
        Form->CheckBoxSampleAfterStep->click();
        QVERIFY(Fake->Reads().isEmpty() || Fake->Reads().last() != 2); // settled: nothing read at the start
        for (int guard = 0; guard < 20 && Form->DiagramMode != dmNone; ++guard) {
            Form->TimerDrawChartHystTimer();
            AnswerPositionReads();
        }
        QCOMPARE(Form->LastRecord()->Sweep.Sampling, smSettled);
        QCOMPARE(Form->LastRecord()->Points.size(), 4); // 0, 10, 20 rising, 10 falling
        RunSweep(0, 20, 10);
        QCOMPARE(Form->LastRecord()->Sweep.Sampling, smAfterStep);
        QCOMPARE(Form->LastRecord()->Points.size(), 4);
    }

    // The head's serial number and the sampling mode stay as set until changed, also when the
    // program starts again; a sweep records both.
    void serialAndSamplingRemembered() {
        QVERIFY(!Form->CheckBoxSampleAfterStep->isChecked());
        QCOMPARE(Form->EditHeadSerial->text(), QString());
        QTest::keyClicks(Form->EditHeadSerial, QStringLiteral("HP-0042b"));
        Form->CheckBoxSampleAfterStep->click();
        NewForm();
        QCOMPARE(Form->EditHeadSerial->text(), QStringLiteral("HP-0042b"));
        QVERIFY(Form->CheckBoxSampleAfterStep->isChecked());
        QTest::keyClick(Form->EditHeadSerial, Qt::Key_End);
        QTest::keyClick(Form->EditHeadSerial, Qt::Key_Backspace);
        Form->CheckBoxSampleAfterStep->click();
        NewForm();
        QCOMPARE(Form->EditHeadSerial->text(), QStringLiteral("HP-0042"));
        QVERIFY(!Form->CheckBoxSampleAfterStep->isChecked());
        Connect();
        RunSweep(0, 20, 10);
        QCOMPARE(Form->LastRecord()->HeadSerial, QStringLiteral("HP-0042"));
        QCOMPARE(Form->LastRecord()->Sweep, (TSweepSettings{0, 20, 10, 100, smSettled}));
    }

    // Limits are kept per pump type and head type; the next sweep is judged by those of the
    // window's types, and a type without limits gets figures but no verdict.
    void limitsDialogPerType() {
        Connect();
        Receive(10, 0); // VE
        Receive(3, 0);  // inductive
        TesterBacklashMv = 300;
        Form->ButtonLimits->click();
        auto *dialog = Form->findChild<TDialogTestLimits *>(QStringLiteral("DialogTestLimits"));
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY2(dialog->LabelTypes->text().contains(QStringLiteral("VE")) &&
                     dialog->LabelTypes->text().contains(QStringLiteral("inductive")),
                 qPrintable(dialog->LabelTypes->text()));
        for (TFloatEdit *e :
             {dialog->FloatEditMaxHystVolts, dialog->FloatEditMaxHystPercent, dialog->FloatEditMinSpanVolts})
            QCOMPARE(e->text(), QString());
        dialog->FloatEditMaxHystVolts->setText(QStringLiteral("0.25"));
        dialog->FloatEditMinSpanVolts->setText(QStringLiteral("1"));
        dialog->ButtonBox->button(QDialogButtonBox::Ok)->click();
        QTRY_VERIFY(!Form->findChild<TDialogTestLimits *>(QStringLiteral("DialogTestLimits")));
        QCOMPARE(Form->CurrentLimits(), (TTestLimits{0.25, std::nullopt, 1.0}));

        RunSweep(0, 30, 10);
        QCOMPARE(Form->LabelVerdict->text(), QStringLiteral("FAIL"));
        QVERIFY(!Form->LabelVerdict->isHidden());
        QCOMPARE(Form->LabelVerdictFailures->text(), QStringLiteral("Max hysteresis 0.30 V > 0.25 V"));
        QTRY_COMPARE_WITH_TIMEOUT(StoredRecords(), 1, 20000);
        TTestRecordStore store(Records->path(), TTestRecordStore::saReadOnly);
        QCOMPARE(store.ListRecords().value(0).Verdict, tvFail);

        // The dialog shows the limits stored; Cancel keeps them.
        Form->ButtonLimits->click();
        dialog = Form->findChild<TDialogTestLimits *>(QStringLiteral("DialogTestLimits"));
        QCOMPARE(dialog->FloatEditMaxHystVolts->text(), QStringLiteral("0.250"));
        dialog->FloatEditMaxHystVolts->setText(QStringLiteral("0.5"));
        dialog->ButtonBox->button(QDialogButtonBox::Cancel)->click();
        QCOMPARE(Form->CurrentLimits(), (TTestLimits{0.25, std::nullopt, 1.0}));

        // Another pump type has limits of its own: none yet.
        Receive(10, 1); // PE
        QCOMPARE(Form->PumpTypeName(), QStringLiteral("PE"));
        QVERIFY(Form->CurrentLimits().IsEmpty());
        RunSweep(0, 30, 10);
        QVERIFY(Form->LabelVerdict->isHidden());
        QVERIFY(Form->LabelVerdictFailures->isHidden());
        QCOMPARE(Form->LabelHystMax->text(), QStringLiteral("Max hysteresis: 0.300 V (10.0 %) at 10 %"));
        QCOMPARE(Form->LastRecord()->Verdict, tvNone);
    }

    // The last record as CSV and as a PDF report, and the position chart's samples as CSV, to
    // the file the user chooses; cancelled, nothing is written; a file that cannot be written
    // is said.
    void exports() {
        QTemporaryDir dir;
        QStringList proposed;
        QString answer; // the path the user chooses, relative to dir; empty: cancelled
        Form->AskSaveFileName = [&](const QString &, const QString &name, const QString &) {
            proposed << name;
            return answer.isEmpty() ? QString() : dir.filePath(answer);
        };
        QVERIFY(!Form->ButtonExportRecordCsv->isEnabled());
        QVERIFY(!Form->ButtonReportPdf->isEnabled());
        Connect();
        Form->EditHeadSerial->setText(QStringLiteral("S 1/2"));
        RunSweep(0, 20, 10);
        QVERIFY(Form->ButtonExportRecordCsv->isEnabled());
        QVERIFY(Form->ButtonReportPdf->isEnabled());

        answer = QStringLiteral("points.csv");
        Form->ButtonExportRecordCsv->click();
        QFile csv(dir.filePath(answer));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QVERIFY2(lines[0].startsWith("record_id,head_serial,"), lines[0].constData());
        QCOMPARE(lines.size(), 1 + 4 + 1); // the header, 0, 10, 20 rising and 10 falling, the last CRLF
        QVERIFY(lines[1].contains(Form->LastRecord()->Id.toLatin1()));
        QVERIFY(lines[1].contains(",S 1/2,"));
        QVERIFY2(proposed.last().startsWith(QStringLiteral("hysteresis_S_1_2_")) &&
                     proposed.last().endsWith(QStringLiteral(".csv")),
                 qPrintable(proposed.last()));

        answer = QStringLiteral("report.pdf");
        Form->ButtonReportPdf->click();
        QFile pdf(dir.filePath(answer));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");
        QVERIFY(proposed.last().endsWith(QStringLiteral(".pdf")));

        // The position chart's samples with their times.
        Form->sCheckBoxPositionFast->click(); // the chart begins afresh
        Form->sCheckBoxPositionFast->click();
        for (qint64 mv : {1000, 1500, 2250}) {
            Receive(2, mv);
            KvPlatform::SetTickCountOffset(KvPlatform::TickCountOffset() + 100);
        }
        answer = QStringLiteral("position.csv");
        Form->ButtonExportSamplesCsv->click();
        QFile samples(dir.filePath(answer));
        QVERIFY(samples.open(QIODevice::ReadOnly));
        const QByteArray text = samples.readAll();
        QVERIFY2(text.startsWith("time_ms,volts\r\n"), text.constData());
        const QList<QByteArray> rows = text.trimmed().split('\n');
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[1].trimmed(), QByteArray("0,1.000"));
        QVERIFY2(rows[3].trimmed().endsWith(",2.250"), rows[3].constData());
        QVERIFY2(rows[3].trimmed().split(',')[0].toInt() >= 200, rows[3].constData());

        // Cancelled: nothing written.
        answer.clear();
        const QStringList before = QDir(dir.path()).entryList(QDir::Files);
        Form->ButtonExportRecordCsv->click();
        Form->ButtonReportPdf->click();
        Form->ButtonExportSamplesCsv->click();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), before);
        QCOMPARE(Errors, QStringList());

        // A file that cannot be written: said, and the window goes on.
        answer = QStringLiteral("no-such-folder/points.csv");
        Form->ButtonExportRecordCsv->click();
        QCOMPARE(Errors.size(), 1);
        QVERIFY2(Errors[0].contains(QStringLiteral("no-such-folder")), qPrintable(Errors[0]));
        RunSweep(0, 20, 10);
    }

    void russianTexts() {
        Form->DoRus();
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Старт"));
        QCOMPARE(Form->sPageControl1->tabText(1), QStringLiteral("Измерять гистерезис"));
        QCOMPARE(Ch1()->LabelCurrent->text(), QStringLiteral("Ток"));
        QCOMPARE(Form->RadioGroupResistiveHead->Item(1)->text(), QStringLiteral("Резистивная"));
        QCOMPARE(Form->LabelHeadSerial->text(), QStringLiteral("Серийный номер головки:"));
        QCOMPARE(Form->ButtonLimits->text(), QStringLiteral("Допуски…"));
        Connect();
        Form->ButtonStartStopClick();
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Stop"));
        Form->ButtonStartStopClick();
        QCOMPARE(Form->ButtonStartStop->text(), QStringLiteral("Start"));
    }
};

TAMREL_TEST_MAIN(TestFormTamrel)
#include "tst_FormTamrel.moc"
