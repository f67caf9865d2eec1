#include "uComPortList.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

#include <algorithm>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

namespace {

QMutex TableLock;
std::shared_ptr<IComPortTable> &TableSlot() {
    static std::shared_ptr<IComPortTable> table;
    return table;
}

bool Has(const QString &description, const char *word) {
    return description.contains(QLatin1String(word), Qt::CaseInsensitive);
}

// Drivers of on-board UARTs; everything on a USB bus is an adapter.
bool IsOnBoardDriver(const QString &driver) {
    return driver.startsWith(QLatin1String("serial")) || driver.startsWith(QLatin1String("8250")) ||
           driver == QLatin1String("port") || driver == QLatin1String("pnp");
}

class THostComPortTable : public IComPortTable {
public:
    TComNameDescriptions ReadTable() override {
#ifdef Q_OS_WIN
        TComNameDescriptions Out;
        QSettings Map(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"),
                      QSettings::NativeFormat);
        for (const QString &Device : Map.childKeys())
            Out.append({Map.value(Device).toString(), Device});
        return Out;
#else
        return ReadLinuxComPortTable(QStringLiteral("/sys/class/tty"), QStringLiteral("/dev"),
                                     VirtualPortFolder());
#endif
    }
};

} // namespace

QString VirtualPortFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/tamrel/ports");
}

TComNameDescriptions ReadLinuxComPortTable(const QString &sysClassTty, const QString &devRoot,
                                           const QString &virtualFolder) {
    TComNameDescriptions out;
    int silabser = 0, vcp = 0, usbSer = 0, serial = 0;
    const QDir tty(sysClassTty);
    for (const QString &name :
         tty.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString base = tty.filePath(name);
        const QFileInfo device(base + QStringLiteral("/device"));
        if (!device.exists()) continue; // virtual consoles and the like: no hardware
        const QString driver =
            QFileInfo(QFileInfo(base + QStringLiteral("/device/driver")).symLinkTarget()).fileName();
        if (driver.isEmpty()) continue;
        const bool onUsb = device.canonicalFilePath().contains(QLatin1String("/usb"));
        QString deviceName;
        if (driver == QLatin1String("cp210x")) {
            deviceName = QStringLiteral("\\Device\\Silabser%1").arg(silabser++);
        } else if (driver == QLatin1String("ftdi_sio")) {
            deviceName = QStringLiteral("\\Device\\VCP%1").arg(vcp++);
        } else if (onUsb || !IsOnBoardDriver(driver)) {
            deviceName = QStringLiteral("\\Device\\USBSER%1").arg(usbSer++);
        } else {
            // The kernel keeps a slot for every possible legacy UART; a slot without a chip
            // behind it reports the port type 0 (unknown).
            QFile type(base + QStringLiteral("/type"));
            if (type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "0") continue;
            deviceName = QStringLiteral("\\Device\\Serial%1").arg(serial++);
        }
        out.append({devRoot + QLatin1Char('/') + name, deviceName});
    }
    int virtualCount = 0;
    const QDir folder(virtualFolder);
    for (const QFileInfo &entry : folder.entryInfoList(
             QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!entry.exists() || entry.isDir()) continue; // a link whose target has gone
        out.append(
            {entry.absoluteFilePath(), QStringLiteral("\\Device\\VirtualSerial%1").arg(virtualCount++)});
    }
    return out;
}

std::shared_ptr<IComPortTable> HostComPortTable() {
    return std::make_shared<THostComPortTable>();
}

void SetComPortTable(std::shared_ptr<IComPortTable> table) {
    QMutexLocker l(&TableLock);
    TableSlot() = std::move(table);
}

std::shared_ptr<IComPortTable> CurrentComPortTable() {
    QMutexLocker l(&TableLock);
    if (!TableSlot()) return HostComPortTable();
    return TableSlot();
}

bool IsUsbAdapterName(const QString &deviceName) {
    for (const char *word : UsbAdapterWords)
        if (Has(deviceName, word)) return true;
    return false;
}

bool ComPortLess(const TComNameDescription &a, const TComNameDescription &b) {
    for (const char *word : UsbAdapterWords) {
        const bool inA = Has(a.ComDescription, word), inB = Has(b.ComDescription, word);
        if (inA != inB) return inA;
    }
    if (a.ComName.size() != b.ComName.size()) return a.ComName.size() < b.ComName.size();
    return a.ComName.compare(b.ComName, Qt::CaseInsensitive) < 0;
}

void GetComPortListEx(QStringList &list, bool onlyUsb, TComNameDescriptions *descriptions) {
    TComNameDescriptions entries;
    for (const TComNameDescription &e : CurrentComPortTable()->ReadTable()) {
        if (!onlyUsb || IsUsbAdapterName(e.ComDescription)) entries.append(e);
    }
    std::stable_sort(entries.begin(), entries.end(), ComPortLess);
    list.clear();
    for (const TComNameDescription &e : entries)
        list.append(e.ComName);
    if (descriptions) *descriptions = entries;
}

void GetComPortList(QStringList &list, bool onlyUsb) {
    GetComPortListEx(list, onlyUsb, nullptr);
}

QStringList GetComPortList(bool onlyUsb) {
    QStringList l;
    GetComPortList(l, onlyUsb);
    return l;
}
