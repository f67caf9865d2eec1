#pragma once
// The host's serial ports as the program lists them: port name and the host's device name,
// filtered to USB adapters on request and sorted so that the likely tester comes first.
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

struct TComNameDescription {
    QString ComName;        // the port name that opens the port
    QString ComDescription; // the host's device name of the port
};
using TComNameDescriptions = QVector<TComNameDescription>;

// The host's table of serial devices, in the host's order.
class IComPortTable {
public:
    virtual ~IComPortTable() = default;
    virtual TComNameDescriptions ReadTable() = 0;
};

// The table of this host: on Windows the SERIALCOMM device map; elsewhere every serial
// device of the kernel with a device name made from its driver, then every live entry of
// the virtual-port folder.
std::shared_ptr<IComPortTable> HostComPortTable();
// The table the port lists read; null restores the host's.
void SetComPortTable(std::shared_ptr<IComPortTable> table);
std::shared_ptr<IComPortTable> CurrentComPortTable();

// Folder whose entries (links to pseudo-terminals and the like) are listed as ports.
QString VirtualPortFolder();

// The words of the host's device names that mark a USB serial adapter, in the order the list
// puts them: the FTDI driver's "VCP", the Silicon Labs driver's "Silabser", the "...Serial"
// names of other adapter drivers (which an on-board "Serial" port shares: the name cannot
// tell them apart), and "USBSER", the generic USB serial driver's name, which this host's
// table also gives to every other adapter on USB. The USB selection of the port list and the
// command line program's port table both go by this one list.
inline constexpr const char *UsbAdapterWords[] = {"VCP", "Silabser", "Serial", "USBSER"};
// Whether a device name contains one of UsbAdapterWords, letter case ignored.
bool IsUsbAdapterName(const QString &deviceName);

// Fills List with the port names (and Descriptions, when given, with the same entries):
// with OnlyUSB only devices whose name IsUsbAdapterName; sorted by the first of
// UsbAdapterWords that tells two names apart ("VCP" first), then shorter names, then by name.
void GetComPortListEx(QStringList &list, bool onlyUsb, TComNameDescriptions *descriptions = nullptr);
void GetComPortList(QStringList &list, bool onlyUsb);
QStringList GetComPortList(bool onlyUsb);

// The sort order of the list: true when A comes before B.
bool ComPortLess(const TComNameDescription &a, const TComNameDescription &b);

// The kernel's serial devices from a sysfs tty folder (Linux), device nodes under DevRoot,
// then the entries of VirtualFolder. Exposed so that a test can point it at a fake tree.
TComNameDescriptions ReadLinuxComPortTable(const QString &sysClassTty, const QString &devRoot,
                                           const QString &virtualFolder);
