// Program start: the application object with the general error display, the program's
// settings (the update server's address, the companion scope's bridge), the main window,
// the hidden firmware window, and the message loop until the main window closes.
#include "uFormFirmwareUpdate.h"
#include "uFormTamrel.h"
#include "uKvApplication.h"
#include "uTamrelScopeBridge.h"
#include "uTrazerServerKv.h"
#include "uUpdateServerSetting.h"

#include <QCommandLineParser>
#include <QIcon>
#include <QStyleFactory>

#include <cstdio>

int main(int argc, char **argv) {
    TKvApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setApplicationVersion(QStringLiteral(TAMREL_VERSION));
    // The menu entry's name: the desktop shows the window under the entry's name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TAMREL_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/tamrel.svg")));

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption updateServer(
        "update-server",
        "Base address of the update server (default from the settings file, else the demo server).", "url");
    parser.addOption(updateServer);
    const QCommandLineOption scopeBridge(
        "scope-bridge",
        "Publish the connection's registers to the companion scope program under this name "
        "(default from the settings file; empty: off).",
        "name");
    parser.addOption(scopeBridge);
    parser.process(app);
    QString error;
    const QString address =
        ResolveUpdateServerAddress(parser.value(updateServer), UpdateServerSettingsFilePath(), &error);
    if (!error.isEmpty() && parser.isSet(updateServer)) {
        std::fprintf(stderr, "tamrel: %s\n", qPrintable(error));
        return 2;
    }
    SetUpdateServerAddress(address);

    // A bridge name the system cannot use is said at once, and the bridge stays off.
    QString bridgeName = TamrelScopeBridgeName(parser.isSet(scopeBridge), parser.value(scopeBridge),
                                               UpdateServerSettingsFilePath());
    const QString bridgeProblem = bridgeName.isEmpty() ? QString() : TTrazerServer::NameProblem(bridgeName);
    if (!bridgeProblem.isEmpty()) {
        std::fprintf(stderr, "tamrel: %s\n", qPrintable(bridgeProblem));
        bridgeName.clear();
    }

    TFormTamrel form;
    form.ScopeBridgeName = bridgeName;
    // Hidden until the update button opens it; it closes and goes with the main window.
    new TFormFirmwareUpdate(&form);
    form.show();
    // Records that waited in the local queue since the last run are sent from the start.
    form.RecordWorker();
    if (!error.isEmpty()) TKvApplication::ShowError(error);
    if (!bridgeProblem.isEmpty()) TKvApplication::ShowError(bridgeProblem);
    return app.exec();
}
