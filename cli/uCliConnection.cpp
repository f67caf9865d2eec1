#include "uCliConnection.h"

#include "uCliError.h"
#include "uCliRegisters.h"
#include "uCliWait.h"
#include "uComPortList.h"
#include "uFormConnectionSettingsMorvaSearch.h"
#include "uTamrelRegisterMap.h"
#include "uTamrelTester.h"

namespace {
// The engine's own time-out ends a request; this much longer the wait gives up by itself.
constexpr int WaitMarginMs = 1000;
} // namespace

QString CliProtocolErrorText(TKvPError error) {
    switch (error) {
    case KvErrOk:
        return QStringLiteral("no error");
    case KvErrGeneral:
        return QStringLiteral("general error");
    case KvErrCommand:
        return QStringLiteral("unknown command");
    case KvErrParameter:
        return QStringLiteral("bad parameter");
    case KvErrDataType:
        return QStringLiteral("wrong data type");
    case KvErrValue:
        return QStringLiteral("value out of range");
    case KvErrRegAddress:
        return QStringLiteral("no such register, or not writable");
    case KvErrTimeOut:
        return QStringLiteral("no answer");
    default:
        return QStringLiteral("error code %1").arg(error);
    }
}

TCliFoundTester FindCliTester(bool onlyUsb) {
    const qsizetype portCount = GetComPortList(onlyUsb).size();
    TCliFoundTester found;
    StartSearch(TesterComSettings(), onlyUsb, [&found](const QString &ident, const QString &port, int) {
        // Every answering port is reported; the first tester among them counts.
        if (!found.Port.isEmpty() || !TamrelTester::IsTesterIdent(ident)) return;
        found = {port, ident};
        CliWake();
    });
    const TCliWaitResult result = CliWait([&found] { return !found.Port.isEmpty(); }, SearchTimeOutMs);
    // Later reports must not reach this function's gone state.
    if (SearchEngine) SearchEngine->FOnSearchFinished = {};
    if (result == cwInterrupted) throw ECliError(ceInterrupted, QStringLiteral("the search was interrupted"));
    if (result == cwTimeout) {
        // What each port did, as the program's balloon says it.
        const QStringList seen =
            ExplainSearch(SearchEngine ? SearchEngine->Outcomes : QVector<TSearchPortOutcome>(), true);
        throw ECliError(
            ceNoTester,
            QStringLiteral("no port answered with \"%1\" within %2 ms (%3 port(s) searched)\n  %4")
                .arg(QLatin1String(TamrelTester::IdentPrefix))
                .arg(SearchTimeOutMs)
                .arg(portCount)
                .arg(seen.join(QStringLiteral("\n  "))));
    }
    return found;
}

TCliConnection::TCliConnection(int timeoutMs) : FTimeoutMs(timeoutMs) {
}

TCliConnection::~TCliConnection() {
    Close();
}

void TCliConnection::Open(const QString &port) {
    Close();
    FPortName = port;
    FPort = std::make_unique<TComPort>();
    FPort->SetPort(port);
    ApplyTesterLine(*FPort);
    FPort->Events = evRxChar;
    FPort->OnRxChar = [this](TComPort *sender, int count) {
        QByteArray data;
        sender->ReadStr(data, count);
        if (FProtocol) FProtocol->InputData(data);
    };
    FProtocol = std::make_unique<TKvProtocol>(
        [this](const QByteArray &data) {
            if (!FPort || !FPort->Connected()) return;
            try {
                FPort->WriteStr(data);
            } catch (const EComPort &) {
                // A frame the line does not take gets no answer: its request times out.
            }
        },
        TesterRegistersInfo(), [this](TKvProtocol *, quint8 regNum) { OnReceivedRegister(regNum); }, TOnAck{},
        TOutputData{}, false, QString(), false);
    FProtocol->TimeOut = quint32(FTimeoutMs);
    try {
        FPort->Open();
    } catch (const EComPort &e) {
        FProtocol.reset();
        FPort.reset();
        throw ECliError(ceFailed,
                        QStringLiteral("cannot open %1: %2").arg(port, QString::fromStdString(e.what())));
    }
}

void TCliConnection::Close() {
    // The port first: once it is closed no received byte reaches the engine.
    if (FPort) FPort->Close();
    FProtocol.reset();
    FPort.reset();
}

void TCliConnection::OnReceivedRegister(quint8 regNum) {
    // A value ends a read; a write waits for its acknowledgement.
    if (FPendingRead) EndRequest(regNum, KvErrOk);
}

void TCliConnection::BeginRequest(quint8 regNum, bool isRead) {
    FPendingReg = regNum;
    FPendingRead = isRead;
    FAnswered = false;
    FAnswerError = KvErrOk;
}

void TCliConnection::EndRequest(quint8 regNum, TKvPError error) {
    if (int(regNum) != FPendingReg) return;
    FAnswered = true;
    FAnswerError = error;
    CliWake();
}

void TCliConnection::WaitForRequest(const QString &what) {
    const TCliWaitResult result = CliWait([this] { return FAnswered; }, FTimeoutMs + WaitMarginMs);
    FPendingReg = -1;
    if (result == cwInterrupted) throw ECliError(ceInterrupted, what);
    if (result == cwTimeout || FAnswerError == KvErrTimeOut)
        throw ECliError(
            ceTimeout,
            QStringLiteral("no answer from %1 within %2 ms (%3)").arg(FPortName).arg(FTimeoutMs).arg(what));
}

void TCliConnection::WithRetries(const std::function<void()> &request) {
    for (int attempt = 0;; ++attempt) {
        try {
            request();
            return;
        } catch (const ECliError &e) {
            if (e.Kind != ceTimeout || attempt >= Retries) throw;
        }
    }
}

TKvRegister TCliConnection::Read(quint8 regNum) {
    WithRetries([&] {
        BeginRequest(regNum, true);
        FProtocol->RequestRegister(
            regNum, 0, [this](TKvProtocol *, quint8 r, TKvPError error) { EndRequest(r, error); });
        WaitForRequest(QStringLiteral("reading register %1").arg(regNum));
    });
    if (FAnswerError != KvErrOk)
        throw ECliError(ceFailed, QStringLiteral("the tester refused to read register %1: %2 (code %3)")
                                      .arg(regNum)
                                      .arg(CliProtocolErrorText(FAnswerError))
                                      .arg(FAnswerError));
    return FProtocol->Registers[regNum];
}

QString TCliConnection::Identify() {
    const QString ident = CliValueText(Read(TamrelReg::regFirmwareName));
    // The register protocol's first exchange after register 0 would ask the tester to switch to
    // CRC frames; the command line keeps to checksum frames, which every tester takes.
    FProtocol->FirstPacket = false;
    if (!TamrelTester::IsTesterIdent(ident))
        throw ECliError(ceNoTester,
                        QStringLiteral("%1 answers \"%2\", which is no Tamrel tester").arg(FPortName, ident));
    return ident;
}

void TCliConnection::Write(quint8 regNum, const QVariant &value) {
    const TCliRegisterName &name = CliRegisterName(regNum);
    if (regNum < TamrelReg::RegisterCount && TamrelReg::RegisterMap[regNum].RegReadOnly)
        throw ECliError(ceRefused, QStringLiteral("register %1 (%2) is read-only; nothing was sent")
                                       .arg(regNum)
                                       .arg(QLatin1String(name.Name)));
    try {
        VariantToRegister(FProtocol->Registers[regNum], value);
    } catch (const EKvConvertError &e) {
        throw ECliError(ceBadArguments, QString::fromStdString(e.what()));
    }
    WithRetries([&] {
        BeginRequest(regNum, false);
        FProtocol->WriteRegister(
            regNum, 0, [this](TKvProtocol *, quint8 r, TKvPError error) { EndRequest(r, error); },
            [this](TKvProtocol *, quint8 r) { EndRequest(r, KvErrOk); });
        WaitForRequest(QStringLiteral("writing register %1").arg(regNum));
    });
    if (FAnswerError != KvErrOk)
        throw ECliError(ceRefused,
                        QStringLiteral("the tester refused the write to register %1 (%2): %3 (code %4)")
                            .arg(regNum)
                            .arg(QLatin1String(name.Name), CliProtocolErrorText(FAnswerError))
                            .arg(FAnswerError));
}
