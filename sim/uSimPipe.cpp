#include "uSimPipe.h"

#include <QThread>

TSimPipe::TSimPipe(const TSimOptions &Options, TSimOutput Output, QObject *Parent)
    : QObject(Parent), FDevice(std::make_unique<TSimDevice>(Options)), FTimer(this) {
    FDevice->SetOutput(std::move(Output));
    FTimer.setSingleShot(true);
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, &TSimPipe::TimerTick);
    Schedule();
}

TSimPipe::~TSimPipe() {
    FDevice->SetOutput({});
}

void TSimPipe::SetOutput(TSimOutput Output) {
    FDevice->SetOutput(std::move(Output));
}

void TSimPipe::Write(const QByteArray &Bytes) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, Bytes] { Write(Bytes); }, Qt::QueuedConnection);
        return;
    }
    if (FClosed) return;
    FDevice->Receive(Bytes);
    Schedule();
}

void TSimPipe::Close() {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this] { Close(); }, Qt::QueuedConnection);
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
