#pragma once
// The host's named alert sounds. Hosts without a sound of the asked name ring the bell.
// Tests install their own implementation to see which sounds were asked for.
#include <QString>

#include <memory>

class ISystemSound {
public:
    virtual ~ISystemSound() = default;
    // Starts the named sound without waiting for it; a sound already playing is not
    // interrupted and the new one is skipped.
    virtual void PlayAsync(const QString &name) = 0;
};

namespace KvPlatform {
ISystemSound &SystemSound();
// Replaces the sound output; null restores the host's.
void SetSystemSound(std::shared_ptr<ISystemSound> sound);
} // namespace KvPlatform
