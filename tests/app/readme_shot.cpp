// Not a test: the main window offscreen, connected to the simulated tester, after a
// hysteresis sweep, saved as two pictures for the README (position tab, hysteresis tab).
// Usage: app_readme_shot <position.png> <hysteresis.png>
#include "CompFloatEdit.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameTamrelChannel.h"
#include "uPrivateRuntime.h"
#include "uSimPty.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QStyleFactory>
#include <QTabWidget>
#include <QThread>
#include <QToolButton>

#include <cstdio>
#include <functional>

static bool WaitFor(const std::function<bool()> &Done, int TimeoutMs) {
    QElapsedTimer T;
    T.start();
    while (!Done() && T.elapsed() < TimeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return Done();
}

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TPrivateRuntime Runtime; // a private port folder
    QApplication App(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc < 3) {
        std::fprintf(stderr, "usage: app_readme_shot <position.png> <hysteresis.png>\n");
        return 2;
    }
    TSimPty Sim;
    QString Error;
    if (!Sim.Start(TSimOptions(), &Error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(Error));
        return 1;
    }
    TFormTamrel Form;
    Form.show();
    Form.DeviceLink->sButtonConnect->click();
    if (!WaitFor([&] { return Form.DeviceLink->IsConnected() && Form.DeviceLink->CurrentImageIndex() == 1; },
                 5000)) {
        std::fprintf(stderr, "could not connect to the simulator\n");
        return 1;
    }
    // Manual control at the start duty first: a sweep samples right after each step, so an
    // actuator still settling from elsewhere would put a spike at the start of the loop.
    TFloatEdit *Duty = Form.FrameTamrelChannel1->FloatEditManualPWM;
    Form.sSpeedButtonManualControl->click();
    Duty->SetValueInt(10);
    Duty->Validate(true, true);
    WaitFor([] { return false; }, 1000);
    Form.FloatEditDutyStart->SetValueInt(10);
    Form.FloatEditDutyEnd->SetValueInt(90);
    Form.FloatEditStep->SetValueInt(4);
    Form.FloatEditPeriod->SetValueInt(150);
    Form.ButtonStartStop->click();
    WaitFor([&] { return Form.DiagramMode == dmNone; }, 20000);
    // Move the duty about so the position chart shows the actuator following it.
    const int Duties[] = {30, 70, 45, 85, 20, 60};
    for (int i = 0; Form.TimeX < 90 && i < 12; ++i) {
        Duty->SetValueInt(Duties[i % 6]);
        Duty->Validate(true, true);
        const qint32 Until = qMin(Form.TimeX + 15, 92);
        WaitFor([&] { return Form.TimeX >= Until || Form.TimeX < 0; }, 3000);
    }
    Form.grab().save(QString::fromLocal8Bit(argv[1]));
    Form.sPageControl1->setCurrentWidget(Form.sTabSheetChartHyst);
    WaitFor([] { return false; }, 200);
    Form.grab().save(QString::fromLocal8Bit(argv[2]));
    Form.close();
    WaitFor([] { return false; }, 200);
    return 0;
}
