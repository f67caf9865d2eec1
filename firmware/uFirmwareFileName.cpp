#include "uFirmwareFileName.h"

#include <QStringList>

TFirmwareFileName ParseFirmwareFileName(const QString &FileName) {
    QString Name = FileName;
    Name.replace(QLatin1Char('/'), QLatin1Char('\\'));
    Name = Name.mid(Name.lastIndexOf(QLatin1Char('\\')) + 1);
    const qsizetype Dot = Name.lastIndexOf(QLatin1Char('.'));
    if (Dot >= 0) Name.truncate(Dot);

    TFirmwareFileName Result;
    const qsizetype Semicolon = Name.indexOf(QLatin1Char(';'));
    if (Semicolon < 0) {
        Result.DisplayName = Name;
        return Result;
    }
    Result.DisplayName = Name.left(Semicolon);
    // The value runs to the next ";"; a further "=" belongs to the value. The first entry
    // with the key counts.
    for (const QString &Entry : Name.mid(Semicolon + 1).split(QLatin1Char(';'))) {
        const qsizetype Equals = Entry.indexOf(QLatin1Char('='));
        if (Equals < 0) continue;
        if (Entry.left(Equals).compare(QLatin1String("DeviceIdentStr"), Qt::CaseInsensitive) == 0) {
            Result.DeviceIdentStr = Entry.mid(Equals + 1);
            break;
        }
    }
    return Result;
}
