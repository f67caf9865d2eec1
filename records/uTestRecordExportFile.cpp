#include "uTestRecordExportFile.h"

#include <QDir>
#include <QSaveFile>

void SaveExportFile(const QString &path, const QByteArray &data) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        throw ETestRecordExport(QStringLiteral("Cannot write %1: %2")
                                    .arg(QDir::toNativeSeparators(path), file.errorString())
                                    .toStdString());
}
