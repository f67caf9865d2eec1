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
        QStringList Errors;
        TKvApplication::SetErrorDisplay([&](const QString &M) { Errors << M; });
        auto Tester = StartSim("Tavik");
        TFrameDeviceLinkComMorva Link;
        Link.DeviceIdentStr = "Tavik";
        Link.SetBaudRate(115200);
        Link.SetSearchOnConnect(false);
        Link.SetOnDeviceLinkStartStop({}, {}, true);
        Link.SetKeepConnection(true);
        Link.SetOnCreateProtocolRef([](IDeviceLink *Sender) {
            TKvRegistersDynArray Registers(2); // the identification and the start register
            Registers[0].RegType = rtString;
            Registers[1].RegAdr = 1;
            Registers[1].RegType = rtU8;
            auto *P = new TKvProtocol(Sender->GetTransmitProcedure(), Registers, {}, {}, {}, false,
                                      "TamrelLog", Sender->GetProtocolInThread());
            Sender->SetKvProtocol(P);
            Sender->SetOnReceived([P](const QByteArray &Data) { P->InputData(Data); });
        });
        Link.ComPortObject()->SetPort(Tester->PortName());
        // Looked at right after the link's own handler of each tick.
        int Ticks = 0;
        bool SentOnFirstTick = false;
        QObject::connect(Link.TimerCheckTimeOut, &QTimer::timeout, &Link, [&] {
            if (++Ticks == 1) SentOnFirstTick = Link.LastTransmitTime != 0;
        });
        QVERIFY(Link.Connect());
        QTRY_VERIFY_WITH_TIMEOUT(Ticks >= 1, 5000);
        QVERIFY2(SentOnFirstTick, "no keep-alive on the first tick after the port opened");
        // and the tester gets it, after the engine's first-contact read of the same register
        QTRY_VERIFY_WITH_TIMEOUT(CountFrames(*Tester, true, 8, 1) >= 2, 5000);
        QVERIFY(Link.IsConnected());
        Link.Disconnect();
        QVERIFY2(Errors.isEmpty(), qPrintable(Errors.join('\n')));
    }
};

TAMREL_TEST_MAIN(TFirstKeepAliveTest)
#include "tst_FirstKeepAlive.moc"
