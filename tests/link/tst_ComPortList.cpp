// The port list: filter and order over a fed table, and the Linux table built from a fake
// sysfs tree and a virtual-port folder.
#include "TestMain.h"
#include "uComPortList.h"
#include "uFakeComPortTable.h"
#include "uPrivateRuntime.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using TPairs = QVector<QPair<QString, QString>>; // port name, device name
Q_DECLARE_METATYPE(TPairs)

class TComPortListTest : public QObject {
    Q_OBJECT
private slots:
    void filterAndOrder_data() {
        QTest::addColumn<TPairs>("Table");
        QTest::addColumn<bool>("OnlyUSB");
        QTest::addColumn<QStringList>("Expected");
        const TPairs Mixed{{"COM10", "\\Device\\Serial1"},  {"COM7", "\\Device\\Silabser0"},
                           {"COM9", "\\Device\\USBSER000"}, {"COM2", "\\Device\\Serial0"},
                           {"COM12", "\\Device\\VCP0"},     {"COM3", "\\Device\\BthModem0"}};
        QTest::newRow("all ports, groups then length then name")
            << Mixed << false << QStringList{"COM12", "COM7", "COM2", "COM10", "COM3", "COM9"};
        QTest::newRow("USB filter drops the others")
            << Mixed << true << QStringList{"COM12", "COM7", "COM2", "COM10"};
        QTest::newRow("VCP before Silabser whatever the names")
            << TPairs{{"COM1", "\\Device\\Silabser0"}, {"COM99", "\\Device\\VCP3"}} << false
            << QStringList{"COM99", "COM1"};
        QTest::newRow("shorter first, then by name ignoring case")
            << TPairs{{"COM10", "\\Device\\Serial2"},
                      {"com4", "\\Device\\Serial1"},
                      {"COM3", "\\Device\\Serial0"},
                      {"COM2", "\\Device\\Serial3"}}
            << false << QStringList{"COM2", "COM3", "com4", "COM10"};
        QTest::newRow("filter ignores letter case") << TPairs{{"COM5", "\\device\\vcp0"},
                                                              {"COM6", "\\Device\\SILABSER1"},
                                                              {"COM8", "\\Device\\ProlificSer"}}
                                                    << true << QStringList{"COM5", "COM6"};
        QTest::newRow("empty table") << TPairs{} << false << QStringList{};
    }
    void filterAndOrder() {
        QFETCH(TPairs, Table);
        QFETCH(bool, OnlyUSB);
        QFETCH(QStringList, Expected);
        TInstalledFakeTable Fake;
        for (const auto &P : Table)
            Fake.Table->Entries.append({P.first, P.second});
        QStringList List{"stale"};
        TComNameDescriptions Descriptions{{"stale", "stale"}};
        GetComPortListEx(List, OnlyUSB, &Descriptions);
        QCOMPARE(List, Expected);
        QCOMPARE(Descriptions.size(), Expected.size());
        for (int I = 0; I < Expected.size(); ++I)
            QCOMPARE(Descriptions[I].ComName, Expected[I]);
        QCOMPARE(GetComPortList(OnlyUSB), Expected);
    }

    // A fake /sys/class/tty: drivers become device names that keep the filter and the order
    // meaningful; empty legacy UART slots and ttys without hardware are left out; virtual
    // entries whose target has gone are skipped.
    void linuxTableFromSysfs() {
        QTemporaryDir Root;
        QVERIFY(Root.isValid());
        QDir R(Root.path());
        auto Device = [&](const QString &Tty, const QString &DevicePath, const QString &Driver,
                          const QString &Type = {}) {
            QVERIFY(R.mkpath("devices/" + DevicePath));
            QVERIFY(R.mkpath("drivers/" + Driver));
            QVERIFY(R.mkpath("tty/" + Tty));
            QVERIFY(QFile::link(R.filePath("devices/" + DevicePath), R.filePath("tty/" + Tty + "/device")));
            QVERIFY(QFile::link(R.filePath("drivers/" + Driver),
                                R.filePath("devices/" + DevicePath + "/driver")));
            if (!Type.isEmpty()) {
                QFile F(R.filePath("tty/" + Tty + "/type"));
                QVERIFY(F.open(QIODevice::WriteOnly));
                F.write(Type.toLatin1() + "\n");
            }
        };
        Device("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
        Device("ttyUSB1", "pci0/usb1/1-2/1-2:1.0/ttyUSB1", "cp210x");
        Device("ttyACM0", "pci0/usb1/1-3/1-3:1.0", "cdc_acm");
        Device("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", "port", "4");
        Device("ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1", "port", "0");
        QVERIFY(R.mkpath("tty/tty0")); // a virtual console: no device
        QVERIFY(R.mkpath("virtual"));
        QFile Target(R.filePath("target"));
        QVERIFY(Target.open(QIODevice::WriteOnly));
        Target.close();
        QVERIFY(QFile::link(R.filePath("target"), R.filePath("virtual/TAMSIM0")));
        QVERIFY(QFile::link(R.filePath("gone"), R.filePath("virtual/TAMSIM1")));

        const TComNameDescriptions T =
            ReadLinuxComPortTable(R.filePath("tty"), "/dev", R.filePath("virtual"));
        QStringList Got;
        for (const auto &E : T)
            Got << E.ComName + " " + E.ComDescription;
        QCOMPARE(Got, QStringList({"/dev/ttyACM0 \\Device\\USBSER0", "/dev/ttyS0 \\Device\\Serial0",
                                   "/dev/ttyUSB0 \\Device\\VCP0", "/dev/ttyUSB1 \\Device\\Silabser0",
                                   R.filePath("virtual/TAMSIM0") + " \\Device\\VirtualSerial0"}));
    }

    void hostTableListsVirtualPorts() {
        TPrivateRuntime Runtime;
        QVERIFY(QDir().mkpath(VirtualPortFolder()));
        QVERIFY(VirtualPortFolder().startsWith(Runtime.Path()));
        QVERIFY(QFile::link("/dev/null", VirtualPortFolder() + "/TAMSIM7"));
        const QStringList All = GetComPortList(false), Usb = GetComPortList(true);
        QVERIFY(All.contains(Runtime.Path() + "/tamrel/ports/TAMSIM7"));
        QVERIFY(Usb.contains(Runtime.Path() + "/tamrel/ports/TAMSIM7")); // "VirtualSerial" passes the filter
    }
};

TAMREL_TEST_MAIN_CORE(TComPortListTest)
#include "tst_ComPortList.moc"
