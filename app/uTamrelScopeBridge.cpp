#include "uTamrelScopeBridge.h"

#include <QSettings>

QString TamrelScopeBridgeName(bool optionGiven, const QString &optionValue, const QString &settingsFilePath) {
    if (optionGiven) return optionValue.trimmed();
    const QSettings settings(settingsFilePath, QSettings::IniFormat);
    return settings.value(QLatin1String(ScopeBridgeSettingKey)).toString().trimmed();
}
