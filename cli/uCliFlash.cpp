// flash: a firmware image into the tester through its boot loader, with the firmware window's
// checks: the boot loader's identification against the one the file name requires, and the
// image's size against the flash.
#include "uCliCommandLine.h"
#include "uCliCommands.h"
#include "uCliError.h"
#include "uCliProgress.h"
#include "uCliWait.h"
#include "uFirmwareFileName.h"
#include "uFirmwareImageFile.h"

#include <QFileInfo>

namespace {

// The start request is repeated this often, this far apart, for a boot loader slow to wake.
constexpr int StartRepeats = 5;
constexpr int StartRepeatMs = 50;

struct TLoaderAnswer {
    bool Arrived = false;
    quint16 FlashSizeKiB = 0;
    quint16 PageSize = 0;
    QByteArray Ident;
};

struct TTransfer {
    bool Ended = false;
    quint8 Error = 0;
    quint32 Position = 0; // bytes acknowledged so far
};

} // namespace

int CliFlash(const QStringList &arguments) {
    TCliCommandLine line(
        QStringLiteral("flash"),
        QStringLiteral(
            "Writes a firmware image into the tester through its boot loader. The file's name carries the "
            "identification the boot loader must report ('Main 2.1;DeviceIdentStr=TAMREL-BL.firmware'); it "
            "is "
            "compared without regard to letter case, and the image must be smaller than the flash. A file "
            "whose "
            "name carries no identification is written only with --force-ident. Nothing of the image is sent "
            "when a check fails."),
        true);
    line.Parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The firmware image."));
    const QCommandLineOption forceIdent(
        QStringLiteral("force-ident"),
        QStringLiteral(
            "Write a file whose name carries no DeviceIdentStr, whatever the boot loader reports."));
    line.Parser.addOption(forceIdent);
    if (!line.Parse(arguments)) return CliExitOk;
    const QStringList files = line.Parser.positionalArguments();
    if (files.size() != 1) throw ECliError(ceBadArguments, QStringLiteral("flash needs one firmware file"));
    const QString path = files[0];
    QByteArray image;
    try {
        image = ReadFirmwareImageFile(path);
    } catch (const EFirmwareFile &e) {
        throw ECliError(ceBadArguments, QStringLiteral("cannot read the firmware image: %1").arg(e.what()));
    }
    if (image.isEmpty()) throw ECliError(ceBadArguments, QStringLiteral("%1 is empty").arg(path));
    const TFirmwareFileName meta = ParseFirmwareFileName(QFileInfo(path).fileName());
    if (meta.DeviceIdentStr.isEmpty() && !line.Parser.isSet(forceIdent))
        throw ECliError(
            ceBadArguments,
            QStringLiteral("the name of %1 carries no DeviceIdentStr, so the image cannot be checked "
                           "against the tester; use --force-ident to write it anyway")
                .arg(path));

    InstallCliInterrupt();
    TCliConnection connection(line.TimeoutMs());
    connection.Open(line.FindPort().Port);
    TKvProtocol *protocol = connection.Protocol();

    TLoaderAnswer answer;
    auto sendStart = [&] {
        protocol->FirmwareStart(
            [&answer](quint16, quint16 flashSize, quint16 pageSize, const QByteArray &ident) {
                answer = {true, flashSize, pageSize, ident};
                CliWake();
            },
            false, quint32(image.size()));
    };
    sendStart();
    TCliWaitResult result = cwTimeout;
    for (int repeat = 0; repeat < StartRepeats && result == cwTimeout; ++repeat) {
        result = CliWait([&answer] { return answer.Arrived; }, StartRepeatMs);
        if (result == cwTimeout) sendStart();
    }
    if (result == cwTimeout) result = CliWait([&answer] { return answer.Arrived; }, line.TimeoutMs());
    if (result == cwInterrupted)
        throw ECliError(ceInterrupted, QStringLiteral("nothing of the image was sent"));
    if (result == cwTimeout)
        throw ECliError(
            ceTimeout,
            QStringLiteral("the boot loader on %1 did not answer the start request").arg(connection.Port()));
    const QString received = QString::fromLatin1(answer.Ident);
    if (!meta.DeviceIdentStr.isEmpty() && received.toLower() != meta.DeviceIdentStr.toLower())
        throw ECliError(ceRefused,
                        QStringLiteral("firmware is not suitable for this device (%1 <> %2); nothing of "
                                       "the image was sent")
                            .arg(received, meta.DeviceIdentStr));
    if (qint64(image.size()) >= qint64(answer.FlashSizeKiB) * 1024)
        throw ECliError(ceRefused,
                        QStringLiteral("the image (%1 bytes) does not fit the flash (%2 KiB); nothing of "
                                       "the image was sent")
                            .arg(image.size())
                            .arg(answer.FlashSizeKiB));
    if (answer.PageSize == 0)
        throw ECliError(ceFailed, QStringLiteral("the boot loader reports no page size; nothing was sent"));

    if (!line.Json())
        CliOut(QStringLiteral("Writing %1 (%2 bytes) to %3, boot loader %4")
                   .arg(meta.DisplayName)
                   .arg(image.size())
                   .arg(connection.Port(), received));
    TCliProgress progress(CliStdoutIsTerminal() && !line.Json());
    if (!line.Json()) progress.Start(quint32(image.size()));
    TTransfer transfer;
    quint32 acknowledged = 0;
    protocol->FirmwareWrite(image, [&](quint8 error, quint32 currentPos, quint32 size) {
        if (error != 0) {
            transfer = {true, error, currentPos};
        } else {
            transfer.Position = currentPos;
            if (currentPos >= size) transfer.Ended = true;
        }
        CliWake();
    });
    // Each page must be acknowledged within the time-out; the wait starts again with every one.
    for (;;) {
        result =
            CliWait([&] { return transfer.Ended || transfer.Position != acknowledged; }, line.TimeoutMs());
        if (result == cwInterrupted)
            throw ECliError(
                ceInterrupted,
                QStringLiteral("the transfer was stopped at byte %1; the tester needs a new update")
                    .arg(transfer.Position));
        if (result == cwTimeout)
            throw ECliError(ceTimeout,
                            QStringLiteral("the boot loader acknowledged no page after byte %1 of %2")
                                .arg(acknowledged)
                                .arg(image.size()));
        acknowledged = transfer.Position;
        if (transfer.Ended && transfer.Error != 0) break;
        if (!line.Json()) progress.Update(acknowledged);
        if (transfer.Ended) break;
    }
    if (transfer.Error != 0) {
        const quint32 page = answer.PageSize ? transfer.Position / answer.PageSize : 0;
        throw ECliError(ceRefused,
                        QStringLiteral("the boot loader refused page %1 (bytes from %2) with error %3; "
                                       "the update is incomplete")
                            .arg(page)
                            .arg(transfer.Position)
                            .arg(transfer.Error));
    }
    if (!line.Json()) {
        progress.Finish();
        CliOut(QStringLiteral("Firmware written successfully"));
    } else {
        CliOutJson({{QStringLiteral("port"), connection.Port()},
                    {QStringLiteral("loader_ident"), received},
                    {QStringLiteral("bytes"), image.size()},
                    {QStringLiteral("result"), QStringLiteral("ok")}});
    }
    // The tester starts the new firmware once the host lets go of the line.
    connection.Close();
    return CliExitOk;
}
