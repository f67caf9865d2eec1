#include "uTamrelScopeBridge.h"

#include <QSettings>

QString TamrelScopeBridgeName(bool OptionGiven, const QString &OptionValue, const QString &SettingsFilePath) {
    if (OptionGiven) return OptionValue.trimmed();
    const QSettings Settings(SettingsFilePath, QSettings::IniFormat);
    return Settings.value(QLatin1String(ScopeBridgeSettingKey)).toString().trimmed();
}
