// The package's udev rule as udev itself reads it: `udevadm test` runs the rule alone (in a
// private mount namespace, so the host's rules, device database and /dev stay untouched) on a
// fake sysfs tree that holds one serial port behind a given driver. The tester's adapters get
// the seat's access tag and are kept from ModemManager; other serial ports are left as they are;
// udev reports nothing wrong in the rule.
#include "TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

bool WriteText(const QString &path, const QByteArray &text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// A link at Path pointing at the sysfs path Target (relative to the tree's root), as the kernel
// makes them: relative, so that they resolve inside the tree once it is mounted as /sys.
bool Link(const QString &root, const QString &path, const QString &target) {
    QDir().mkpath(QFileInfo(root + path).absolutePath());
    QDir().mkpath(root + target);
    const QString relative = QDir(QFileInfo(root + path).absolutePath()).relativeFilePath(root + target);
    return QFile::link(relative, root + path);
}

// One device: a sysfs folder with its uevent, subsystem and (if any) driver.
bool Device(const QString &root, const QString &path, const QString &subsystem, const QString &driver,
            const QByteArray &uevent) {
    if (!WriteText(root + path + "/uevent", uevent)) return false;
    if (!Link(root, path + "/subsystem", subsystem)) return false;
    return driver.isEmpty() || Link(root, path + "/driver", subsystem + "/drivers/" + driver);
}

} // namespace

class TUdevRuleTest : public QObject {
    Q_OBJECT

    // Builds the tree for a port named Tty behind Driver ("usb-serial": a USB serial adapter
    // whose driver binds the interface and the port; "usb": one whose driver makes the tty
    // directly under the interface; "platform": an on-board UART). Returns the tty's path.
    static QString BuildTree(const QString &root, const QString &kind, const QString &driver,
                             const QString &tty) {
        const QString iface = "/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0";
        QString parent;
        bool ok = true;
        if (kind == "platform") {
            parent = "/devices/platform/serial8250";
            ok = Device(root, parent, "bus/platform", driver, "DRIVER=" + driver.toUtf8() + "\n");
        } else {
            ok = Device(root, "/devices/pci0000:00/0000:00:14.0/usb1/1-1", "bus/usb", "usb",
                        "DEVTYPE=usb_device\nDRIVER=usb\nPRODUCT=403/6001/600\n") &&
                 Device(root, iface, "bus/usb", driver,
                        "DEVTYPE=usb_interface\nDRIVER=" + driver.toUtf8() + "\nINTERFACE=255/255/255\n");
            parent = iface;
            if (kind == "usb-serial") {
                parent = iface + "/" + tty;
                ok = ok && Device(root, parent, "bus/usb-serial", driver, "DRIVER=" + driver.toUtf8() + "\n");
            }
        }
        const QString device = parent + "/tty/" + tty;
        ok = ok &&
             Device(root, device, "class/tty", QString(),
                    "MAJOR=188\nMINOR=0\nDEVNAME=" + tty.toUtf8() + "\n") &&
             WriteText(root + device + "/dev", "188:0\n") && Link(root, "/class/tty/" + tty, device);
        return ok ? "/sys/class/tty/" + tty : QString();
    }

private slots:
    void tagsTheTestersAdaptersOnly_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("tty");
        QTest::addColumn<bool>("tester");
        QTest::newRow("FTDI adapter") << "usb-serial"
                                      << "ftdi_sio"
                                      << "ttyUSB0" << true;
        QTest::newRow("Silicon Labs CP210x adapter") << "usb-serial"
                                                     << "cp210x"
                                                     << "ttyUSB1" << true;
        QTest::newRow("CH341 adapter") << "usb-serial"
                                       << "ch341"
                                       << "ttyUSB2" << false;
        QTest::newRow("Prolific adapter") << "usb-serial"
                                          << "pl2303"
                                          << "ttyUSB3" << false;
        QTest::newRow("USB modem (CDC ACM)") << "usb"
                                             << "cdc_acm"
                                             << "ttyACM0" << false;
        QTest::newRow("on-board UART") << "platform"
                                       << "serial8250"
                                       << "ttyS0" << false;
    }
    void tagsTheTestersAdaptersOnly() {
        QFETCH(QString, kind);
        QFETCH(QString, driver);
        QFETCH(QString, tty);
        QFETCH(bool, tester);
        const QString udevadm = QStandardPaths::findExecutable("udevadm", {"/usr/bin", "/bin", "/sbin"});
        QVERIFY2(!udevadm.isEmpty(), "udevadm is missing (./scripts/deps installs udev)");
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString sys = work.filePath("sys");
        const QString device = BuildTree(sys, kind, driver, tty);
        QVERIFY2(!device.isEmpty(), "the fake sysfs tree could not be made");

        // In a mount namespace of its own: the fake tree as /sys, udev's rule folders holding
        // the package's rule alone, and a scratch /run and /dev for what udevadm writes.
        const QString script = QStringLiteral(R"(set -e
rule=$1; sys=$2; dev=$3; udevadm=$4
mount --bind "$sys" /sys
for d in /etc/udev/rules.d /usr/local/lib/udev/rules.d /usr/lib/udev/rules.d; do
  [ -d "$d" ] && mount -t tmpfs tmpfs "$d"
done
cp "$rule" /usr/lib/udev/rules.d/%1
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /dev
SYSTEMD_DEVICE_VERIFY_SYSFS=0 SYSTEMD_LOG_LEVEL=debug exec "$udevadm" test --action=add "$dev"
)")
                                   .arg(QStringLiteral(TAMREL_UDEV_RULE_NAME));
        QStringList unshare{"--mount", "--propagation", "private"};
        if (geteuid() != 0) unshare.prepend("--map-root-user"); // a user namespace of its own
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start("unshare",
                unshare + QStringList{"sh", "-c", script, "sh", QStringLiteral(TAMREL_UDEV_RULE_FILE), sys,
                                      device, udevadm});
        QVERIFY(p.waitForStarted(10000));
        QVERIFY(p.waitForFinished(60000));
        const QString out = QString::fromLocal8Bit(p.readAll());
        if (p.exitCode() != 0 && out.contains("unshare: "))
            QSKIP(qPrintable("no mount namespace for udevadm here: " + out.trimmed()));
        QVERIFY2(p.exitCode() == 0, qPrintable(out));

        // udev read the rule and found nothing wrong in it (it names the file and line of any
        // key it cannot parse, and ignores that line).
        const QString installed = QStringLiteral("/usr/lib/udev/rules.d/" TAMREL_UDEV_RULE_NAME);
        QVERIFY2(out.contains("Reading rules file: " + installed), qPrintable(out));
        QVERIFY2(!out.contains(installed + ":"), qPrintable(out));
        QVERIFY2(out.contains("SUBSYSTEM=tty"), qPrintable(out));

        QStringList tags, ignore;
        for (const QString &line : out.split('\n')) {
            if (line.startsWith("TAGS=")) tags << line.mid(5);
            if (line.startsWith("ID_MM_DEVICE_IGNORE=")) ignore << line.mid(20);
        }
        if (tester) {
            QCOMPARE(tags, QStringList{":uaccess:"});
            QCOMPARE(ignore, QStringList{"1"});
        } else {
            QCOMPARE(tags, QStringList{});
            QCOMPARE(ignore, QStringList{});
        }
    }
};

TAMREL_TEST_MAIN_CORE(TUdevRuleTest)
#include "tst_UdevRule.moc"
