#pragma once
// A strict CSV reader for the tests of the exports.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

// RFC 4180 as a reader sees it: records end with CRLF, a field is either plain or in double
// quotes with inner quotes doubled and commas and line breaks kept. Fails on anything else.
inline QVector<QStringList> ParseCsv(const QByteArray &bytes) {
    const QString text = QString::fromUtf8(bytes);
    QVector<QStringList> rows;
    QStringList row;
    QString field;
    int i = 0;
    const int n = text.size();
    while (i < n) {
        if (text[i] == u'"') {
            ++i;
            while (true) {
                if (i >= n) {
                    qWarning("unterminated quoted field");
                    return {};
                }
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        field += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i++];
            }
        } else {
            while (i < n && text[i] != u',' && text[i] != u'\r' && text[i] != u'\n') {
                if (text[i] == u'"') {
                    qWarning("quote inside a plain field");
                    return {};
                }
                field += text[i++];
            }
        }
        row << field;
        field.clear();
        if (i < n && text[i] == u',') {
            ++i;
        } else if (i + 1 < n && text[i] == u'\r' && text[i + 1] == u'\n') {
            i += 2;
            rows << row;
            row.clear();
        } else {
            qWarning("field not followed by a comma or CRLF at %d", i);
            return {};
        }
    }
    return rows;
}
