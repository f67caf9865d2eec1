#pragma once
// The generated store of the test-record benchmarks: 10,000 records of 41 points each, with
// serials, types, dates and verdicts spread the way a busy bench would have them.
#include "uTamrelTester.h"
#include "uTestRecordStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>

inline constexpr int RecordCount = 10000;

// A sweep from 10 % to 90 % in steps of 4 %: 21 points up, 20 down.
inline TTestRecord SweepRecord(int index) {
    TTestRecord record;
    record.Id = TTestRecord::NewId();
    record.HeadSerial = QStringLiteral("HD-%1-%2").arg(2026 + index % 3).arg(index, 6, 10, QLatin1Char('0'));
    record.TakenAt = QDateTime(QDate(2026, 1, 1), QTime(7, 0), Qt::UTC).addSecs(qint64(index) * 2437);
    record.TesterId = QStringLiteral("/dev/ttyACM0");
    record.Firmware = QLatin1String(TamrelTester::IdentPrefix) + QStringLiteral(" TAMREL 1.6");
    record.PumpType = index % 3 == 0 ? QStringLiteral("PE") : QStringLiteral("VE");
    record.HeadType = index % 2 ? QStringLiteral("Resistive") : QStringLiteral("Inductive");
    record.Sweep = {10, 90, 4, 200, smSettled};
    const double width = 0.1 + 0.3 * double(index % 7) / 7;
    for (int duty = 10; duty <= 90; duty += 4)
        record.Points.append({double(duty), 0.5 + 0.04 * duty, sbRising});
    for (int duty = 90; duty >= 10; duty -= 4)
        record.Points.append(
            {double(duty), 0.5 + 0.04 * duty + width * std::sin((duty - 10) / 80.0 * M_PI), sbFalling});
    record.Limits = {0.3, std::nullopt, 2.0};
    record.Evaluate();
    return record;
}

// The generated store, made once per run; Copy() gives a folder with a copy of it to write to.
struct TGeneratedStore {
    QTemporaryDir Dir;
    QString Folder;
    QString SomeId;
    int Copies = 0;

    TGeneratedStore() : Folder(Dir.filePath(QStringLiteral("records"))) {
        QVector<TTestRecord> records;
        records.reserve(RecordCount);
        for (int i = 0; i < RecordCount; ++i)
            records.append(SweepRecord(i));
        SomeId = records[RecordCount / 2].Id;
        TTestRecordStore store(Folder);
        store.WriteRecords(records);
    }

    QString Copy() {
        const QString folder = Dir.filePath(QStringLiteral("copy%1").arg(++Copies));
        QDir().mkpath(folder);
        QFile::copy(QDir(Folder).filePath(QLatin1String(TTestRecordStore::FileName)),
                    QDir(folder).filePath(QLatin1String(TTestRecordStore::FileName)));
        return folder;
    }
};

inline TGeneratedStore &Generated() {
    static TGeneratedStore store;
    return store;
}
