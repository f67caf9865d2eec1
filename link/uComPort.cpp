#include "uComPort.h"

// Placeholder so that the library links while the port lands.
TComPort::TComPort() = default;
TComPort::~TComPort() = default;
void TComPort::SetPort(const QString &Value) {
    FPort = Value;
}
void TComPort::SetCustomBaudRate(int Value) {
    FBaudRate = Value;
}
void TComPort::SetDataBits(TDataBits Value) {
    FDataBits = Value;
}
void TComPort::SetStopBits(TStopBits Value) {
    FStopBits = Value;
}
void TComPort::SetParityBits(TParityBits Value) {
    FParity.Bits = Value;
}
void TComPort::SetSyncMethod(TSyncMethod Value) {
    FSyncMethod = Value;
}
void TComPort::BeginUpdate() {
    ++FUpdateCount;
}
void TComPort::EndUpdate() {
    --FUpdateCount;
}
bool TComPort::Connected() const {
    return false;
}
void TComPort::SetConnected(bool Value) {
    if (Value) throw EComPort("Unable to open com port");
}
int TComPort::ReadStr(QByteArray &Str, int) {
    Str.clear();
    return 0;
}
int TComPort::InputCount() const {
    return 0;
}
void TComPort::WriteStr(const QByteArray &) {
    throw EComPort("WriteFile function failed");
}
void TComPort::WriteStrAsync(const QByteArray &, PAsync &AsyncPtr) {
    AsyncPtr.reset();
}
void TComPort::WaitForAsync(PAsync &AsyncPtr) {
    AsyncPtr.reset();
}
bool TComPort::AsyncDone(const PAsync &, int) {
    return false;
}
QThread *TComPort::EventThread() const {
    return nullptr;
}
