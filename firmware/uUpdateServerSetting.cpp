#include "uUpdateServerSetting.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

namespace {
QString &CurrentAddress() {
    static QString Address = QString::fromLatin1(DefaultUpdateServerAddress);
    return Address;
}
} // namespace

QString UpdateServerSettingsFilePath() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("tamrel/tamrel.ini"));
}

QString UpdateServerAddress() {
    return CurrentAddress();
}

void SetUpdateServerAddress(const QString &Address) {
    CurrentAddress() = Address;
}

QString CheckUpdateServerAddress(const QString &Address, QString *Error) {
    const QString Trimmed = Address.trimmed();
    const QUrl Url(Trimmed, QUrl::StrictMode);
    const QString Scheme = Url.scheme().toLower();
    if (!Url.isValid() || (Scheme != QLatin1String("http") && Scheme != QLatin1String("https")) ||
        Url.host().isEmpty() || Url.hasQuery() || Url.hasFragment()) {
        if (Error)
            *Error = QStringLiteral("\"%1\" is not an http:// or https:// address of an update server")
                         .arg(Address);
        return {};
    }
    return Trimmed.endsWith(u'/') ? Trimmed : Trimmed + u'/';
}

QString ResolveUpdateServerAddress(const QString &CommandLineValue, const QString &SettingsFilePath,
                                   QString *Error) {
    QString Value = CommandLineValue;
    QString Source = QStringLiteral("--update-server");
    if (Value.isEmpty()) {
        const QSettings Settings(SettingsFilePath, QSettings::IniFormat);
        Value = Settings.value(QLatin1String(UpdateServerSettingKey)).toString();
        Source = SettingsFilePath;
    }
    if (Value.isEmpty()) return QString::fromLatin1(DefaultUpdateServerAddress);
    QString Why;
    const QString Checked = CheckUpdateServerAddress(Value, &Why);
    if (Checked.isEmpty()) {
        if (Error) *Error = QStringLiteral("%1: %2; using %3").arg(Source, Why, DefaultUpdateServerAddress);
        return QString::fromLatin1(DefaultUpdateServerAddress);
    }
    return Checked;
}
