// Not a test: the main window offscreen, connected to the simulated tester, after a
// hysteresis sweep judged against limits, saved as two pictures for the README (position tab,
// hysteresis tab with the figures and the verdict). Settings and records go to the test-mode
// folders, never to the user's own.
// Usage: app_readme_shot <position.png> <hysteresis.png>
#include "CompFloatEdit.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameTamrelChannel.h"
#include "uPrivateRuntime.h"
#include "uSimPty.h"
#include "uTestLimits.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QToolButton>

#include <cstdio>
#include <functional>

static bool WaitFor(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    TPrivateRuntime runtime; // a private port folder
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc < 3) {
        std::fprintf(stderr, "usage: app_readme_shot <position.png> <hysteresis.png>\n");
        return 2;
    }
    TSimPty sim;
    QString error;
    if (!sim.Start(TSimOptions(), &error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    // The simulated tester is a VE pump with an inductive head.
    {
        QSettings settings(TFormTamrel::SettingsFilePath(), QSettings::IniFormat);
        SaveTestLimits(settings, QStringLiteral("VE"), QStringLiteral("Inductive"), {0.8, 20.0, 3.0});
    }
    QTemporaryDir records;
    TFormTamrel form;
    form.RecordFolder = records.path();
    form.EditHeadSerial->setText(QStringLiteral("VE-0421"));
    form.show();
    form.DeviceLink->sButtonConnect->click();
    if (!WaitFor([&] { return form.DeviceLink->IsConnected() && form.DeviceLink->CurrentImageIndex() == 1; },
                 5000)) {
        std::fprintf(stderr, "could not connect to the simulator\n");
        return 1;
    }
    // Manual control at the start duty first, so that the loop starts from a head at rest.
    TFloatEdit *duty = form.FrameTamrelChannel1->FloatEditManualPWM;
    form.sSpeedButtonManualControl->click();
    duty->SetValueInt(10);
    duty->Validate(true, true);
    WaitFor([] { return false; }, 1000);
    form.FloatEditDutyStart->SetValueInt(10);
    form.FloatEditDutyEnd->SetValueInt(90);
    form.FloatEditStep->SetValueInt(4);
    form.FloatEditPeriod->SetValueInt(150);
    form.ButtonStartStop->click();
    WaitFor([&] { return form.DiagramMode == dmNone && form.LastRecord(); }, 20000);
    // Move the duty about so the position chart shows the actuator following it.
    const int duties[] = {30, 70, 45, 85, 20, 60};
    for (int i = 0; form.TimeX < 90 && i < 12; ++i) {
        duty->SetValueInt(duties[i % 6]);
        duty->Validate(true, true);
        const qint32 Until = qMin(form.TimeX + 15, 92);
        WaitFor([&] { return form.TimeX >= Until || form.TimeX < 0; }, 3000);
    }
    form.grab().save(QString::fromLocal8Bit(argv[1]));
    form.sPageControl1->setCurrentWidget(form.sTabSheetChartHyst);
    WaitFor([] { return false; }, 200);
    form.grab().save(QString::fromLocal8Bit(argv[2]));
    form.close();
    WaitFor([] { return false; }, 200);
    QSettings settings(TFormTamrel::SettingsFilePath(), QSettings::IniFormat);
    settings.remove(QStringLiteral("TestLimits"));
    settings.remove(QStringLiteral("Sweep"));
    return 0;
}
