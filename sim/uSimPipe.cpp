#include "uSimPipe.h"
#include "uKvThreadHandOver.h"

#include <QThread>

TSimPipe::TSimPipe(const TSimOptions &options, TSimOutput output, QObject *parent)
    : QObject(parent), FDevice(std::make_unique<TSimDevice>(options)), FTimer(this) {
    FDevice->SetOutput(std::move(output));
    FTimer.setSingleShot(true);
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, &TSimPipe::TimerTick);
    Schedule();
}

TSimPipe::~TSimPipe() {
    FDevice->SetOutput({});
}

void TSimPipe::SetOutput(TSimOutput output) {
    FDevice->SetOutput(std::move(output));
}

void TSimPipe::Write(const QByteArray &bytes) {
    if (QThread::currentThread() != thread()) {
        KvThread::Post(this, [this, bytes] { Write(bytes); });
        return;
    }
    if (FClosed) return;
    FDevice->Receive(bytes);
    Schedule();
}

void TSimPipe::Close() {
    if (QThread::currentThread() != thread()) {
        KvThread::Post(this, [this] { Close(); });
        return;
    }
    FClosed = true;
    FTimer.stop();
    FDevice->SetHostPresent(false);
}

bool TSimPipe::Died() const {
    return FDevice->Dead();
}

void TSimPipe::Schedule() {
    if (FClosed || FDevice->Dead()) return;
    FTimer.start(FDevice->NextDueMs());
}

void TSimPipe::TimerTick() {
    if (FClosed) return;
    FDevice->Tick();
    if (FDevice->Dead()) {
        FClosed = true;
        emit Unplugged();
        return;
    }
    Schedule();
}
