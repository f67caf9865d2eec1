#include "uUpdateServerSetting.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

namespace {
QString &CurrentAddress() {
    static QString address = QString::fromLatin1(DefaultUpdateServerAddress);
    return address;
}
} // namespace

QString UpdateServerSettingsFilePath() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("tamrel/tamrel.ini"));
}

QString UpdateServerAddress() {
    return CurrentAddress();
}

void SetUpdateServerAddress(const QString &address) {
    CurrentAddress() = address;
}

QString CheckUpdateServerAddress(const QString &address, QString *error) {
    const QString trimmed = address.trimmed();
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty() || url.hasQuery() || url.hasFragment()) {
        if (error)
            *error = QStringLiteral("\"%1\" is not an http:// or https:// address of an update server")
                         .arg(address);
        return {};
    }
    return trimmed.endsWith(u'/') ? trimmed : trimmed + u'/';
}

QString ResolveUpdateServerAddress(const QString &commandLineValue, const QString &settingsFilePath,
                                   QString *error) {
    QString value = commandLineValue;
    QString source = QStringLiteral("--update-server");
    if (value.isEmpty()) {
        const QSettings settings(settingsFilePath, QSettings::IniFormat);
        value = settings.value(QLatin1String(UpdateServerSettingKey)).toString();
        source = settingsFilePath;
    }
    if (value.isEmpty()) return QString::fromLatin1(DefaultUpdateServerAddress);
    QString why;
    const QString checked = CheckUpdateServerAddress(value, &why);
    if (checked.isEmpty()) {
        if (error) *error = QStringLiteral("%1: %2; using %3").arg(source, why, DefaultUpdateServerAddress);
        return QString::fromLatin1(DefaultUpdateServerAddress);
    }
    return checked;
}
