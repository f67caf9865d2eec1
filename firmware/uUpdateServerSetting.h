#pragma once
// Where the update server is. The program's setting, chosen at start: the address given with
// "--update-server URL" wins over the "UpdateServer" entry of the settings file, which wins
// over the demo update server that ./scripts/run starts on this machine.
#include <QString>

// The demo update server's base address (tamrel-update-server on its default port).
inline constexpr char DefaultUpdateServerAddress[] = "http://127.0.0.1:18080/firmware_update/KVBL/";

// The key of the setting in the settings file ([General] section of an INI file).
inline constexpr char UpdateServerSettingKey[] = "UpdateServer";

// The settings file: tamrel.ini in the user's configuration folder (~/.config/tamrel/).
QString UpdateServerSettingsFilePath();

// The base address in use; the default until SetUpdateServerAddress is called.
QString UpdateServerAddress();
void SetUpdateServerAddress(const QString &address);

// Checks Address as an update server's base address: an http or https address with a host.
// Returns it with a trailing "/" ensured, or an empty string and the reason in *Error.
QString CheckUpdateServerAddress(const QString &address, QString *error);

// The address to use: CommandLineValue when not empty, else the settings file's entry when
// present, else the default. A bad value gives the default and a message in *Error that
// names where the value came from.
QString ResolveUpdateServerAddress(const QString &commandLineValue, const QString &settingsFilePath,
                                   QString *error);
