// flash: a firmware image into the tester through its boot loader, by the firmware window's
// rules (TFirmwareUpdate): the boot loader's identification against the one the file name
// requires, the image's size against the flash, a time-out per page. A port given with --port
// must first say it is a tester (register 0), as for read and write.
#include "uCliCommandLine.h"
#include "uCliCommands.h"
#include "uCliError.h"
#include "uCliProgress.h"
#include "uCliWait.h"
#include "uFirmwareFileName.h"
#include "uFirmwareImageFile.h"
#include "uFirmwareUpdate.h"

#include <QFileInfo>

#include <optional>

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
            "when a check fails. A page whose status does not come within --timeout is sent again a few "
            "times before the update is given up."),
        true);
    line.Parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The firmware image."));
    const QCommandLineOption forceIdent(
        QStringLiteral("force-ident"),
        QStringLiteral(
            "Write a file whose name carries no DeviceIdentStr, whatever the boot loader reports; and "
            "with --port, skip asking register 0 whether the port is a tester (a tester already in its "
            "boot loader answers no register)."));
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
    const TCliFoundTester found = line.FindPort();
    connection.Open(found.Port);
    // A searched port has said it is a tester; a given one is asked, so that no image goes to
    // another device. A tester already in its boot loader answers no register: --force-ident.
    if (found.Ident.isEmpty() && !line.Parser.isSet(forceIdent)) {
        try {
            connection.Identify();
        } catch (const ECliError &e) {
            throw ECliError(e.Kind, QString::fromStdString(e.what()) +
                                        QStringLiteral("; nothing of the image was sent (a tester already "
                                                       "in its boot loader takes --force-ident)"));
        }
    }

    TFirmwareUpdate update;
    update.AnswerTimeOutMs = line.TimeoutMs();
    update.Protocol = [&connection] { return connection.Protocol(); };
    TCliProgress progress(CliStdoutIsTerminal() && !line.Json());
    std::optional<TFirmwareResult> result;
    QString received;
    update.OnAccepted = [&](const TFirmwareResult &loader) {
        received = loader.LoaderIdent;
        if (line.Json()) return;
        CliOut(QStringLiteral("Writing %1 (%2 bytes) to %3, boot loader %4")
                   .arg(meta.DisplayName)
                   .arg(image.size())
                   .arg(connection.Port(), received));
        progress.Start(quint32(image.size()));
    };
    update.OnProgress = [&](quint32 position, quint32) {
        if (!line.Json()) progress.Update(position);
    };
    update.OnFinished = [&](const TFirmwareResult &r) {
        result = r;
        CliWake();
    };
    update.Start(image, meta.DeviceIdentStr, !meta.DeviceIdentStr.isEmpty());
    // The update bounds every wait of its own; Ctrl+C ends it sooner.
    if (CliWait([&result] { return result.has_value(); }, -1) == cwInterrupted) {
        const bool writing = update.Writing();
        update.Stop();
        throw ECliError(ceInterrupted, writing ? QStringLiteral("the transfer was stopped; the tester needs "
                                                                "a new update")
                                               : QStringLiteral("nothing of the image was sent"));
    }
    const TFirmwareResult &r = *result;
    switch (r.Outcome) {
    case foDone:
        break;
    case foNoLoader:
        throw ECliError(
            ceTimeout,
            QStringLiteral("the boot loader on %1 did not answer the start request").arg(connection.Port()));
    case foNotSuitable:
        throw ECliError(ceRefused,
                        QStringLiteral("firmware is not suitable for this device (%1 <> %2); nothing of "
                                       "the image was sent")
                            .arg(r.LoaderIdent, r.ExpectedIdent));
    case foTooLarge:
        throw ECliError(ceRefused,
                        QStringLiteral("the image (%1 bytes) does not fit the flash (%2 KiB); nothing of "
                                       "the image was sent")
                            .arg(image.size())
                            .arg(r.FlashSizeKiB));
    case foNoPageSize:
        throw ECliError(ceRefused, QStringLiteral("the boot loader reports a page size of 0; nothing of the "
                                                  "image was sent"));
    case foPageRefused:
        throw ECliError(ceRefused,
                        QStringLiteral("the boot loader refused page %1 (bytes from %2) with error %3; "
                                       "the update is incomplete")
                            .arg(r.Page)
                            .arg(r.Position)
                            .arg(r.Status));
    case foStalled:
        throw ECliError(ceTimeout,
                        QStringLiteral("the tester stopped answering at page %1 (after byte %2 of %3); run "
                                       "flash again to write the image anew")
                            .arg(r.Page)
                            .arg(r.Position)
                            .arg(image.size()));
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
