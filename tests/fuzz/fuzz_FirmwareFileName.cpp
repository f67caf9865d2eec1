// Fuzz target for the metadata that a firmware file carries in its name (uFirmwareFileName): the
// input is a path as the file dialog or the update server gives it, as UTF-8. What is read must
// agree with a reference reading of the naming form written here character by character; it
// must not depend on the folders in front of the name nor on the kind of separator; and a name
// built from what was read reads back the same.
#include "FuzzSupport.h"
#include "uFirmwareFileName.h"

#include <QCoreApplication>

#include <cstdint>

namespace {

bool IsSeparator(QChar c) {
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

// The naming form read character by character: the last path component, less everything from
// its last "." on, is the display name up to the first ";", then ";"-separated entries of a key,
// "=" and a value running to the next ";". The first entry whose key is DeviceIdentStr in any
// letter case gives the identification.
NO_COVERAGE TFirmwareFileName Reference(const QString &path) {
    qsizetype start = 0;
    for (qsizetype i = 0; i < path.size(); ++i)
        if (IsSeparator(path[i])) start = i + 1;
    qsizetype end = path.size();
    for (qsizetype i = path.size() - 1; i >= start; --i) {
        if (path[i] == QLatin1Char('.')) {
            end = i;
            break;
        }
    }
    TFirmwareFileName out;
    qsizetype i = start;
    while (i < end && path[i] != QLatin1Char(';'))
        out.DisplayName += path[i++];
    while (i < end) { // at a ";"
        ++i;
        QString key;
        while (i < end && path[i] != QLatin1Char(';') && path[i] != QLatin1Char('='))
            key += path[i++];
        if (i >= end || path[i] != QLatin1Char('=')) continue; // an entry without "=": no key
        ++i;
        QString value;
        while (i < end && path[i] != QLatin1Char(';'))
            value += path[i++];
        if (key.toCaseFolded() == QLatin1String("deviceidentstr")) {
            out.DeviceIdentStr = value;
            break;
        }
    }
    return out;
}

void CheckSame(const TFirmwareFileName &got, const TFirmwareFileName &expected, const QString &about) {
    CHECK(got.DisplayName == expected.DisplayName, about);
    CHECK(got.DeviceIdentStr == expected.DeviceIdentStr, about);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    CreateApplication<QCoreApplication>("fuzz_FirmwareFileName");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString path = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const TFirmwareFileName read = ParseFirmwareFileName(path);
    CheckSame(read, Reference(path), path);

    // Folders in front and the kind of separator change nothing.
    CheckSame(ParseFirmwareFileName(QStringLiteral("C:\\Firmware/") + path), read, path);
    QString swapped = path;
    for (QChar &c : swapped)
        c = c == QLatin1Char('/') ? QLatin1Char('\\') : c == QLatin1Char('\\') ? QLatin1Char('/') : c;
    CheckSame(ParseFirmwareFileName(swapped), read, path);

    // What was read holds none of the characters that end its part of the name.
    CHECK(!read.DisplayName.contains(QLatin1Char(';')), path);
    CHECK(!read.DeviceIdentStr.contains(QLatin1Char(';')), path);
    for (const QString &part : {read.DisplayName, read.DeviceIdentStr})
        for (QChar c : part)
            CHECK(!IsSeparator(c), path);

    // Written in the naming form again, it reads back the same (a "." ends the name's stem, so
    // only an identification without one survives behind it; the display name may hold dots
    // when an extension follows).
    if (!read.DeviceIdentStr.contains(QLatin1Char('.'))) {
        const QString rebuilt = read.DisplayName + QStringLiteral(";deviceidentSTR=") + read.DeviceIdentStr +
                                QStringLiteral(".firmware");
        CheckSame(ParseFirmwareFileName(rebuilt), read, path);
    }
    return 0;
}
