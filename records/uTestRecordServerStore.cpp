#include "uTestRecordServerStore.h"

#include "uTestRecordSql.h"

#include <QRegularExpression>
#include <QSettings>

namespace {

const QString ServerKey = QStringLiteral("TestRecords/Server");

// Splits "key=value key='quoted value'" as libpq does (no escapes inside quotes here).
QVector<std::pair<QString, QString>> ConnectionPairs(const QString &text) {
    static const QRegularExpression pair(QStringLiteral(R"((\w+)\s*=\s*('([^']*)'|\S*))"));
    QVector<std::pair<QString, QString>> pairs;
    for (auto it = pair.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        pairs.append({match.captured(1), match.captured(3).isNull() ? match.captured(2) : match.captured(3)});
    }
    return pairs;
}

} // namespace

TRecordServerSettings LoadRecordServerSettings(QSettings &settings) {
    return {settings.value(ServerKey).toString()};
}

void SaveRecordServerSettings(QSettings &settings, const TRecordServerSettings &server) {
    if (server.IsSet())
        settings.setValue(ServerKey, server.ConnectionString);
    else
        settings.remove(ServerKey);
}

TTestRecordServerStore::TTestRecordServerStore(const TRecordServerSettings &server)
    : FSql(std::make_unique<TTestRecordSql>(QStringLiteral("QPSQL"))) {
    QSqlDatabase &db = FSql->Db();
    QStringList options;
    bool hasConnectTimeout = false;
    for (const auto &[key, value] : ConnectionPairs(server.ConnectionString)) {
        if (key == u"host")
            db.setHostName(value);
        else if (key == u"port")
            db.setPort(value.toInt());
        else if (key == u"dbname")
            db.setDatabaseName(value);
        else if (key == u"user")
            db.setUserName(value);
        else if (key == u"password")
            db.setPassword(value);
        else {
            hasConnectTimeout = hasConnectTimeout || key == u"connect_timeout";
            options << key + u'=' + value;
        }
    }
    // A server that accepts and never answers would hold a connect for ever without it.
    if (!hasConnectTimeout) options << QStringLiteral("connect_timeout=%1").arg(DefaultConnectTimeoutS);
    db.setConnectOptions(options.join(u';'));
    FSql->Open(QStringLiteral("Cannot reach the test-record server"),
               QStringLiteral("%1:%2, database %3").arg(db.hostName()).arg(db.port()).arg(db.databaseName()));
    // Every statement ends within a bounded time, a lock waited for included: the server
    // cancels it and the record stays in the queue for the next attempt.
    FSql->Exec(QStringLiteral("Cannot reach the test-record server"),
               QStringLiteral("SET statement_timeout = %1").arg(StatementTimeoutMs));
    FSql->CreateOrMigrate();
}

TTestRecordServerStore::~TTestRecordServerStore() = default;

int TTestRecordServerStore::WriteRecords(const QVector<TTestRecord> &records) {
    return FSql->WriteRecords(records);
}

QVector<TTestRecordSummary> TTestRecordServerStore::ListRecords(const TTestRecordFilter &filter) {
    return FSql->ListRecords(filter);
}

std::optional<TTestRecord> TTestRecordServerStore::LoadRecord(const QString &id) {
    return FSql->LoadRecord(id);
}
