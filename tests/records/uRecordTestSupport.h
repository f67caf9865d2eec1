#pragma once
// Records for the tests of storage and export: every field set, and raw SQL on a store's file.
#include "uTestRecord.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QtTest/QtTest>

// A finished sweep from 10 % to 50 % in steps of 10 % that fails its hysteresis limit.
inline TTestRecord FullTestRecord(const QString &serial = QStringLiteral("ГП-0042, \"left\"\nbench 2")) {
    TTestRecord record;
    record.Id = TTestRecord::NewId();
    record.HeadSerial = serial;
    record.TakenAt = QDateTime(QDate(2026, 3, 1), QTime(8, 15, 30, 250), Qt::UTC);
    record.TesterId = QStringLiteral("/dev/ttyACM0");
    record.Firmware = QStringLiteral("Tavik TAMREL 1.6");
    record.PumpType = QStringLiteral("VE");
    record.HeadType = QStringLiteral("Inductive");
    record.Sweep = {10, 50, 10, 250, smAfterStep};
    for (int duty = 10; duty <= 50; duty += 10)
        record.Points.append({double(duty), 0.1 + 0.2 * duty / 10 + 1e-13 * duty, sbRising});
    for (int duty = 50; duty >= 10; duty -= 10)
        record.Points.append({double(duty), 0.3 + 0.2 * duty / 10 - (duty == 50 ? 0.2 : 0.0), sbFalling});
    record.Limits = {0.15, std::nullopt, 0.5};
    record.Evaluate();
    return record;
}

// Runs statements on the SQLite file at path through a connection of its own.
inline void RunSql(const QString &path, const QStringList &statements) {
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        for (const QString &statement : statements) {
            QSqlQuery query(db);
            QVERIFY2(query.exec(statement), qPrintable(statement + ": " + query.lastError().text()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// The first column of the first row of a query on the SQLite file at path.
inline QVariant SqlValue(const QString &path, const QString &statement) {
    const QString name = QUuid::createUuid().toString();
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(statement) && query.next()) value = query.value(0);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}
