#pragma once
// Where test records are kept: the interface every store offers (a local SQLite file here; a
// database server can offer the same), and the local store in one SQLite file.
#include "uTestRecord.h"

#include <memory>
#include <optional>
#include <stdexcept>

// A store could not be opened, read or written; the message says which store and why.
class ETestRecordStore : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The store refused records for a reason in the records themselves (a value the server does
// not take, a limit a field exceeds): sending them again cannot succeed.
class ETestRecordRefused : public ETestRecordStore {
public:
    using ETestRecordStore::ETestRecordStore;
};

// Tests stop a writing program at a chosen point of a write or a flush, to kill it there: the
// hook is called with the point's name ("local-before-commit", "local-committed",
// "server-before-commit", "server-committed"). Null in the program.
using TTestRecordPauseHook = void (*)(const char *point);
extern TTestRecordPauseHook TestRecordPauseHook;
inline void TestRecordPause(const char *point) {
    if (TestRecordPauseHook) TestRecordPauseHook(point);
}

// Which records a list holds. Every condition that is set must hold.
struct TTestRecordFilter {
    // Empty: any serial. Otherwise, with SerialExact false, serials that contain this text
    // ignoring letter case ("ab" finds "XAB-12"); with SerialExact true, the serial exactly as
    // typed.
    QString Serial;
    bool SerialExact = false;
    std::optional<TTestVerdict> Verdict;
    QDateTime From;  // taken at or after; invalid: no lower bound
    QDateTime To;    // taken before; invalid: no upper bound
    int MaxRows = 0; // the newest this many; 0: all
};

// A record without its points, as lists show it.
struct TTestRecordSummary {
    QString Id;
    QString HeadSerial;
    QDateTime TakenAt; // UTC
    QString PumpType;
    QString HeadType;
    THysteresisFigures Figures;
    TTestVerdict Verdict = tvNone;
    bool operator==(const TTestRecordSummary &) const = default;
};

// A record the server refused, with the server's reason.
struct TRefusedTestRecord {
    QString Id;
    QString HeadSerial;
    QString Reason;
    bool operator==(const TRefusedTestRecord &) const = default;
};

class TTestRecordSql;

// What the program asks of a store of test records. Every failure raises ETestRecordStore.
class ITestRecordStore {
public:
    virtual ~ITestRecordStore() = default;
    // Stores the records, each with its points, in one transaction: all of them or, on a
    // failure, none, and nothing stored before is touched. A record whose id is stored already
    // is left as it is, so that writing a record again (a retry) never duplicates it. Returns
    // how many records were new.
    virtual int WriteRecords(const QVector<TTestRecord> &records) = 0;
    // The records that pass the filter, newest first, without their points.
    virtual QVector<TTestRecordSummary> ListRecords(const TTestRecordFilter &filter = {}) = 0;
    // The whole record with this id, or nothing when no record has it.
    virtual std::optional<TTestRecord> LoadRecord(const QString &id) = 0;

    // True when the record was new.
    bool WriteRecord(const TTestRecord &record) { return WriteRecords({record}) == 1; }
};

// The local store: the file FileName in a folder, created with the folder on first use. An
// older file's schema is brought up to date when it is opened for writing. Each object has its
// own database connection, used on the thread that created it.
class TTestRecordStore : public ITestRecordStore {
public:
    enum TAccess : quint8 { saReadWrite, saReadOnly };

    static constexpr char FileName[] = "test-records.sqlite";

    // Raises ETestRecordStore when the folder or the file cannot be created or opened, when the
    // file is not a test-record store, or when it was written by a newer program.
    explicit TTestRecordStore(const QString &folder, TAccess access = saReadWrite);
    ~TTestRecordStore() override;
    TTestRecordStore(const TTestRecordStore &) = delete;
    TTestRecordStore &operator=(const TTestRecordStore &) = delete;

    // The folder the program keeps its records in (the application's data folder).
    static QString DefaultFolder();

    QString FilePath() const { return FFilePath; }

    int WriteRecords(const QVector<TTestRecord> &records) override;
    QVector<TTestRecordSummary> ListRecords(const TTestRecordFilter &filter = {}) override;
    std::optional<TTestRecord> LoadRecord(const QString &id) override;
    // Removes these records with their points (a queue's records once they are sent).
    void RemoveRecords(const QStringList &ids);

    // ---- The file as a queue for a server ----
    // The ids of the records that wait to be sent, in the order they were written, at most
    // max; records the server refused are not among them.
    QStringList WaitingIds(int max);
    int WaitingCount();
    // A record the server refused for a reason in the record itself: kept here, marked with
    // the reason and left out of WaitingIds, so that it never holds back the others.
    void MarkRefused(const QString &id, const QString &reason);
    QVector<TRefusedTestRecord> RefusedRecords();
    // Every refused record waits again (the server may have been changed to take it).
    void ClearRefused();

private:
    QString FFilePath;
    QString FConnectionName;
    std::unique_ptr<TTestRecordSql> FSql;
};
