#pragma once
// Reading a firmware image from a local file, the same for the window and the command line:
// only a regular file is read (a pipe would wait for a writer for ever, a device such as
// /dev/zero never ends), and its size is checked against the largest image before a byte of
// it is read; what is read never goes past that size, even when the file grows meanwhile.
#include <QByteArray>
#include <QString>

#include <stdexcept>

// The largest image any boot loader can take: its flash size is a 16-bit count of KiB.
constexpr qint64 MaxFirmwareImageSize = qint64(65535) * 1024;

// A firmware file that cannot be read, is no regular file, or is too large to be any
// tester's firmware.
class EFirmwareFile : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole content of the file at Path; EFirmwareFile with a message naming the file when
// it cannot be taken.
QByteArray ReadFirmwareImageFile(const QString &path);
