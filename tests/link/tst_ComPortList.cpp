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
        QTest::addColumn<TPairs>("table");
        QTest::addColumn<bool>("onlyUSB");
        QTest::addColumn<QStringList>("expected");
        const TPairs mixed{{"COM10", "\\Device\\Serial1"},  {"COM7", "\\Device\\Silabser0"},
                           {"COM9", "\\Device\\USBSER000"}, {"COM2", "\\Device\\Serial0"},
                           {"COM12", "\\Device\\VCP0"},     {"COM3", "\\Device\\BthModem0"}};
        QTest::newRow("all ports, groups then length then name")
            << mixed << false << QStringList{"COM12", "COM7", "COM2", "COM10", "COM9", "COM3"};
        // The generic USB serial driver's adapters are USB adapters too.
        QTest::newRow("USB filter drops the others")
            << mixed << true << QStringList{"COM12", "COM7", "COM2", "COM10", "COM9"};
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
        QFETCH(TPairs, table);
        QFETCH(bool, onlyUSB);
        QFETCH(QStringList, expected);
        TInstalledFakeTable fake;
        for (const auto &p : table)
            fake.Table->Entries.append({p.first, p.second});
        QStringList list{"stale"};
        TComNameDescriptions descriptions{{"stale", "stale"}};
        GetComPortListEx(list, onlyUSB, &descriptions);
        QCOMPARE(list, expected);
        QCOMPARE(descriptions.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(descriptions[i].ComName, expected[i]);
        QCOMPARE(GetComPortList(onlyUSB), expected);
    }

    // A fake /sys/class/tty: drivers become device names that keep the filter and the order
    // meaningful; empty legacy UART slots and ttys without hardware are left out; virtual
    // entries whose target has gone are skipped.
    void linuxTableFromSysfs() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QDir r(root.path());
        auto device = [&](const QString &tty, const QString &devicePath, const QString &driver,
                          const QString &type = {}) {
            QVERIFY(r.mkpath("devices/" + devicePath));
            QVERIFY(r.mkpath("drivers/" + driver));
            QVERIFY(r.mkpath("tty/" + tty));
            QVERIFY(QFile::link(r.filePath("devices/" + devicePath), r.filePath("tty/" + tty + "/device")));
            QVERIFY(QFile::link(r.filePath("drivers/" + driver),
                                r.filePath("devices/" + devicePath + "/driver")));
            if (!type.isEmpty()) {
                QFile f(r.filePath("tty/" + tty + "/type"));
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(type.toLatin1() + "\n");
            }
        };
        device("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
        device("ttyUSB1", "pci0/usb1/1-2/1-2:1.0/ttyUSB1", "cp210x");
        device("ttyACM0", "pci0/usb1/1-3/1-3:1.0", "cdc_acm");
        device("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", "port", "4");
        device("ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1", "port", "0");
        QVERIFY(r.mkpath("tty/tty0")); // a virtual console: no device
        QVERIFY(r.mkpath("virtual"));
        QFile target(r.filePath("target"));
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.close();
        QVERIFY(QFile::link(r.filePath("target"), r.filePath("virtual/TAMSIM0")));
        QVERIFY(QFile::link(r.filePath("gone"), r.filePath("virtual/TAMSIM1")));

        const TComNameDescriptions t =
            ReadLinuxComPortTable(r.filePath("tty"), "/dev", r.filePath("virtual"));
        QStringList got;
        for (const auto &e : t)
            got << e.ComName + " " + e.ComDescription;
        QCOMPARE(got, QStringList({"/dev/ttyACM0 \\Device\\USBSER0", "/dev/ttyS0 \\Device\\Serial0",
                                   "/dev/ttyUSB0 \\Device\\VCP0", "/dev/ttyUSB1 \\Device\\Silabser0",
                                   r.filePath("virtual/TAMSIM0") + " \\Device\\VirtualSerial0"}));
    }

    void hostTableListsVirtualPorts() {
        TPrivateRuntime runtime;
        QVERIFY(QDir().mkpath(VirtualPortFolder()));
        QVERIFY(VirtualPortFolder().startsWith(runtime.Path()));
        QVERIFY(QFile::link("/dev/null", VirtualPortFolder() + "/TAMSIM7"));
        const QStringList all = GetComPortList(false), usb = GetComPortList(true);
        QVERIFY(all.contains(runtime.Path() + "/tamrel/ports/TAMSIM7"));
        QVERIFY(usb.contains(runtime.Path() + "/tamrel/ports/TAMSIM7")); // "VirtualSerial" passes the filter
    }
};

TAMREL_TEST_MAIN_CORE(TComPortListTest)
#include "tst_ComPortList.moc"
