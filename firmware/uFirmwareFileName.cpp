#include "uFirmwareFileName.h"

#include <QStringList>

TFirmwareFileName ParseFirmwareFileName(const QString &fileName) {
    QString name = fileName;
    name.replace(QLatin1Char('/'), QLatin1Char('\\'));
    name = name.mid(name.lastIndexOf(QLatin1Char('\\')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) name.truncate(dot);

    TFirmwareFileName result;
    const qsizetype semicolon = name.indexOf(QLatin1Char(';'));
    if (semicolon < 0) {
        result.DisplayName = name;
        return result;
    }
    result.DisplayName = name.left(semicolon);
    // The value runs to the next ";"; a further "=" belongs to the value. The first entry
    // with the key counts.
    for (const QString &entry : name.mid(semicolon + 1).split(QLatin1Char(';'))) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        if (equals < 0) continue;
        if (entry.left(equals).compare(QLatin1String("DeviceIdentStr"), Qt::CaseInsensitive) == 0) {
            result.DeviceIdentStr = entry.mid(equals + 1);
            break;
        }
    }
    return result;
}
