#include "uProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

bool ProgramFolderTakesFiles(const QString &folder, const QString &installFolder) {
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isWritable()) return false;
    const QString installed =
        QFileInfo(installFolder.isEmpty() ? QStringLiteral(TAMREL_INSTALL_BINDIR) : installFolder)
            .canonicalFilePath();
    return installed.isEmpty() || info.canonicalFilePath() != installed;
}

TSaveFolder SaveFolder(QStandardPaths::StandardLocation instead, const QString &programFolder) {
    const QString program = programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder;
    if (ProgramFolderTakesFiles(program)) return {program, true};
    const QString own = QStandardPaths::writableLocation(instead);
    // A folder that cannot be made is reported by the write that follows, under its name.
    QDir().mkpath(own);
    return {own, false};
}
