#include "uPlatformSound.h"

#include <QApplication>
#include <QElapsedTimer>

namespace {

// The bell is short; a second alert within this span counts as "already playing".
constexpr qint64 BellLengthMs = 300;

class TBellSound : public ISystemSound {
public:
    void PlayAsync(const QString &) override {
        if (FSince.isValid() && FSince.elapsed() < BellLengthMs) return;
        FSince.start();
        QApplication::beep();
    }

private:
    QElapsedTimer FSince;
};

std::shared_ptr<ISystemSound> &Current() {
    static std::shared_ptr<ISystemSound> sound = std::make_shared<TBellSound>();
    return sound;
}

} // namespace

namespace KvPlatform {

ISystemSound &SystemSound() {
    return *Current();
}

void SetSystemSound(std::shared_ptr<ISystemSound> sound) {
    Current() = sound ? std::move(sound) : std::make_shared<TBellSound>();
}

} // namespace KvPlatform
