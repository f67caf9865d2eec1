#pragma once
// The simulated tester on an in-process byte pipe, for tests and benchmarks that need no
// pseudo-terminal: Write hands bytes from the host to the device; the device's bytes come
// out of the output callback on the thread the pipe lives on. Answers without a delay come
// out synchronously inside Write; delayed answers and unasked values come from a precise
// timer of the pipe's thread, so that thread must run an event loop for them.
#include "uSimDevice.h"
#include "uSimOptions.h"

#include <QObject>
#include <QTimer>

#include <memory>

class TSimPipe : public QObject {
    Q_OBJECT
public:
    explicit TSimPipe(const TSimOptions &options = {}, TSimOutput output = {}, QObject *parent = nullptr);
    ~TSimPipe() override;

    void SetOutput(TSimOutput output);
    // Host to device. From another thread than the pipe's, the bytes are queued to it.
    void Write(const QByteArray &bytes);
    // Stops the device like an unplugged cable would: nothing more is sent. Also happens
    // by itself at the die-after time; Died() then turns true.
    void Close();
    bool Died() const;

    TSimDevice &Device() { return *FDevice; }

signals:
    // The die-after time has passed: the line is gone, as an unplugged device's would be.
    void Unplugged();

private:
    void Schedule();
    void TimerTick();

    std::unique_ptr<TSimDevice> FDevice;
    QTimer FTimer;
    bool FClosed = false;
};
