#pragma once
// The companion scope's bridge: the name under which the program's connection engines publish
// their registers for the companion oscilloscope program, or empty for none (the default).
// "--scope-bridge NAME" decides when given (an empty NAME turns the bridge off); otherwise the
// "ScopeBridge" entry of the program's settings file ([General] section) does.
#include <QString>

// The key of the setting in the settings file.
inline constexpr char ScopeBridgeSettingKey[] = "ScopeBridge";

QString TamrelScopeBridgeName(bool optionGiven, const QString &optionValue, const QString &settingsFilePath);
