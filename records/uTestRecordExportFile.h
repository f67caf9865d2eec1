#pragma once
// Writing an exported report (CSV, PDF) to the file the user chose.
#include <QByteArray>
#include <QString>
#include <stdexcept>

// An export could not be made or written; the message names the file and the reason.
class ETestRecordExport : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Replaces the file at path with data as a whole: a failure leaves an existing file as it was
// and raises ETestRecordExport.
void SaveExportFile(const QString &path, const QByteArray &data);
