#pragma once
// A firmware file carries its metadata in its name: the display name, then optionally ";"
// and ";"-separated key=value entries, then the extension. 'Main 2.1;DeviceIdentStr=XYZ-BL.firmware'
// is 'Main 2.1' for a boot loader that identifies itself as 'XYZ-BL'.
#include <QString>

struct TFirmwareFileName {
    QString DisplayName;
    // Identification the boot loader must report; empty when the name carries none.
    QString DeviceIdentStr;
};

// Reads the metadata from a path or a bare file name; "/" and "\" both separate folders.
TFirmwareFileName ParseFirmwareFileName(const QString &fileName);
