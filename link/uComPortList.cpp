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
    static std::shared_ptr<IComPortTable> Table;
    return Table;
}

bool Has(const QString &Description, const char *Word) {
    return Description.contains(QLatin1String(Word), Qt::CaseInsensitive);
}

// Drivers of on-board UARTs; everything on a USB bus is an adapter.
bool IsOnBoardDriver(const QString &Driver) {
    return Driver.startsWith(QLatin1String("serial")) || Driver.startsWith(QLatin1String("8250")) ||
           Driver == QLatin1String("port") || Driver == QLatin1String("pnp");
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

TComNameDescriptions ReadLinuxComPortTable(const QString &SysClassTty, const QString &DevRoot,
                                           const QString &VirtualFolder) {
    TComNameDescriptions Out;
    int Silabser = 0, Vcp = 0, UsbSer = 0, Serial = 0;
    const QDir Tty(SysClassTty);
    for (const QString &Name :
         Tty.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString Base = Tty.filePath(Name);
        const QFileInfo Device(Base + QStringLiteral("/device"));
        if (!Device.exists()) continue; // virtual consoles and the like: no hardware
        const QString Driver =
            QFileInfo(QFileInfo(Base + QStringLiteral("/device/driver")).symLinkTarget()).fileName();
        if (Driver.isEmpty()) continue;
        const bool OnUsb = Device.canonicalFilePath().contains(QLatin1String("/usb"));
        QString DeviceName;
        if (Driver == QLatin1String("cp210x")) {
            DeviceName = QStringLiteral("\\Device\\Silabser%1").arg(Silabser++);
        } else if (Driver == QLatin1String("ftdi_sio")) {
            DeviceName = QStringLiteral("\\Device\\VCP%1").arg(Vcp++);
        } else if (OnUsb || !IsOnBoardDriver(Driver)) {
            DeviceName = QStringLiteral("\\Device\\USBSER%1").arg(UsbSer++);
        } else {
            // The kernel keeps a slot for every possible legacy UART; a slot without a chip
            // behind it reports the port type 0 (unknown).
            QFile Type(Base + QStringLiteral("/type"));
            if (Type.open(QIODevice::ReadOnly) && Type.readAll().trimmed() == "0") continue;
            DeviceName = QStringLiteral("\\Device\\Serial%1").arg(Serial++);
        }
        Out.append({DevRoot + QLatin1Char('/') + Name, DeviceName});
    }
    int Virtual = 0;
    const QDir Folder(VirtualFolder);
    for (const QFileInfo &Entry : Folder.entryInfoList(
             QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!Entry.exists() || Entry.isDir()) continue; // a link whose target has gone
        Out.append({Entry.absoluteFilePath(), QStringLiteral("\\Device\\VirtualSerial%1").arg(Virtual++)});
    }
    return Out;
}

std::shared_ptr<IComPortTable> HostComPortTable() {
    return std::make_shared<THostComPortTable>();
}

void SetComPortTable(std::shared_ptr<IComPortTable> Table) {
    QMutexLocker L(&TableLock);
    TableSlot() = std::move(Table);
}

std::shared_ptr<IComPortTable> CurrentComPortTable() {
    QMutexLocker L(&TableLock);
    if (!TableSlot()) return HostComPortTable();
    return TableSlot();
}

bool ComPortLess(const TComNameDescription &A, const TComNameDescription &B) {
    for (const char *Word : {"VCP", "Silabser", "Serial"}) {
        const bool InA = Has(A.ComDescription, Word), InB = Has(B.ComDescription, Word);
        if (InA != InB) return InA;
    }
    if (A.ComName.size() != B.ComName.size()) return A.ComName.size() < B.ComName.size();
    return A.ComName.compare(B.ComName, Qt::CaseInsensitive) < 0;
}

void GetComPortListEx(QStringList &List, bool OnlyUSB, TComNameDescriptions *Descriptions) {
    TComNameDescriptions Entries;
    for (const TComNameDescription &E : CurrentComPortTable()->ReadTable()) {
        if (!OnlyUSB || Has(E.ComDescription, "Silabser") || Has(E.ComDescription, "VCP") ||
            Has(E.ComDescription, "Serial"))
            Entries.append(E);
    }
    std::stable_sort(Entries.begin(), Entries.end(), ComPortLess);
    List.clear();
    for (const TComNameDescription &E : Entries)
        List.append(E.ComName);
    if (Descriptions) *Descriptions = Entries;
}

void GetComPortList(QStringList &List, bool OnlyUSB) {
    GetComPortListEx(List, OnlyUSB, nullptr);
}

QStringList GetComPortList(bool OnlyUSB) {
    QStringList L;
    GetComPortList(L, OnlyUSB);
    return L;
}
