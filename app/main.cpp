// Program start: the application object with the general error display, the program's
// settings (the update server's address, the companion scope's bridge), the main window,
// the hidden firmware window, and the message loop until the main window closes.
#include "uFormFirmwareUpdate.h"
#include "uFormTamrel.h"
#include "uKvApplication.h"
#include "uTamrelScopeBridge.h"
#include "uUpdateServerSetting.h"

#include <QCommandLineParser>
#include <QStyleFactory>

#include <cstdio>

int main(int argc, char **argv) {
    TKvApplication App(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QCommandLineParser Parser;
    Parser.addHelpOption();
    const QCommandLineOption UpdateServer(
        "update-server",
        "Base address of the update server (default from the settings file, else the demo server).", "url");
    Parser.addOption(UpdateServer);
    const QCommandLineOption ScopeBridge(
        "scope-bridge",
        "Publish the connection's registers to the companion scope program under this name "
        "(default from the settings file; empty: off).",
        "name");
    Parser.addOption(ScopeBridge);
    Parser.process(App);
    QString Error;
    const QString Address =
        ResolveUpdateServerAddress(Parser.value(UpdateServer), UpdateServerSettingsFilePath(), &Error);
    if (!Error.isEmpty() && Parser.isSet(UpdateServer)) {
        std::fprintf(stderr, "tamrel: %s\n", qPrintable(Error));
        return 2;
    }
    SetUpdateServerAddress(Address);

    TFormTamrel Form;
    Form.ScopeBridgeName = TamrelScopeBridgeName(Parser.isSet(ScopeBridge), Parser.value(ScopeBridge),
                                                 UpdateServerSettingsFilePath());
    // Hidden until the update button opens it; it closes and goes with the main window.
    new TFormFirmwareUpdate(&Form);
    Form.show();
    if (!Error.isEmpty()) TKvApplication::ShowError(Error);
    return App.exec();
}
