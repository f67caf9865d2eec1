// The first keep-alive in the program's first second. The millisecond tick count is first
// read here, a moment before the port opens, exactly as in a program whose user connects
// right after start; so this test needs a process of its own and must stay its only test.
#include "TestMain.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uKvApplication.h"
#include "uKvProtocol.h"
#include "uLinkTestSupport.h"

#include <QTimer>

class TFirstKeepAliveTest : public QObject {
    Q_OBJECT
    std::unique_ptr<TLinkRuntime> Runtime;

private slots:
    void initTestCase() { Runtime = std::make_unique<TLinkRuntime>(); }

    // The keep-alive read of register 1 goes out on the link's first 100 ms tick after the
    // port opens, not a second later.
    void firstKeepAliveOnFirstTickAfterStart() {
        QStringList errors;
        TKvApplication::SetErrorDisplay([&](const QString &m) { errors << m; });
        auto tester = StartSim("Tavik");
        TFrameDeviceLinkComMorva link;
        link.DeviceIdentStr = "Tavik";
        link.SetBaudRate(115200);
        link.SetSearchOnConnect(false);
        link.SetOnDeviceLinkStartStop({}, {}, true);
        link.SetKeepConnection(true);
        link.SetOnCreateProtocolRef([](IDeviceLink *sender) {
            TKvRegistersDynArray registers(2); // the identification and the start register
            registers[0].RegType = rtString;
            registers[1].RegAdr = 1;
            registers[1].RegType = rtU8;
            auto *p = new TKvProtocol(sender->GetTransmitProcedure(), registers, {}, {}, {}, false,
                                      "TamrelLog", sender->GetProtocolInThread());
            sender->SetKvProtocol(p);
            sender->SetOnReceived([p](const QByteArray &data) { p->InputData(data); });
        });
        link.ComPortObject()->SetPort(tester->PortName());
        // Looked at right after the link's own handler of each tick.
        int Ticks = 0;
        bool SentOnFirstTick = false;
        QObject::connect(link.TimerCheckTimeOut, &QTimer::timeout, &link, [&] {
            if (++Ticks == 1) SentOnFirstTick = link.LastTransmitTime != 0;
        });
        QVERIFY(link.Connect());
        QTRY_VERIFY_WITH_TIMEOUT(Ticks >= 1, 5000);
        QVERIFY2(SentOnFirstTick, "no keep-alive on the first tick after the port opened");
        // and the tester gets it, after the engine's first-contact read of the same register
        QTRY_VERIFY_WITH_TIMEOUT(CountFrames(*tester, true, 8, 1) >= 2, 5000);
        QVERIFY(link.IsConnected());
        link.Disconnect();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    }
};

TAMREL_TEST_MAIN(TFirstKeepAliveTest)
#include "tst_FirstKeepAlive.moc"
