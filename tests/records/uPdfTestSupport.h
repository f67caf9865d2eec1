#pragma once
// What a test can read of a PDF document without a PDF library: its title and its pages.
#include <QByteArray>
#include <QString>
#include <QtTest/QtTest>

// The document's /Title: a PDF literal string, backslash escapes, UTF-16BE after a byte-order
// mark (or plain bytes without one).
inline QString PdfTitle(const QByteArray &pdf) {
    const QByteArray key = "/Title (";
    const qsizetype start = pdf.indexOf(key);
    if (start < 0) return {};
    QByteArray bytes;
    int depth = 0;
    for (qsizetype i = start + key.size(); i < pdf.size(); ++i) {
        const char c = pdf[i];
        if (c == '\\' && i + 1 < pdf.size()) {
            const char next = pdf[++i];
            bytes += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
        } else if (c == '(') {
            ++depth;
            bytes += c;
        } else if (c == ')') {
            if (depth-- == 0) break;
            bytes += c;
        } else {
            bytes += c;
        }
    }
    if (!bytes.startsWith("\xFE\xFF")) return QString::fromLatin1(bytes);
    QString text;
    for (qsizetype i = 2; i + 1 < bytes.size(); i += 2)
        text += QChar(char16_t((uchar(bytes[i]) << 8) | uchar(bytes[i + 1])));
    return text;
}

// Page objects: "/Type /Page" not followed by "s" (which is the page tree).
inline int PageCount(const QByteArray &pdf) {
    int count = 0;
    for (qsizetype at = pdf.indexOf("/Type /Page"); at >= 0; at = pdf.indexOf("/Type /Page", at + 1)) {
        const qsizetype after = at + 11;
        if (after >= pdf.size() || pdf[after] != 's') ++count;
    }
    return count;
}

// A valid PDF of exactly one page whose title holds the serial (line breaks as spaces).
inline void CheckPdf(const QByteArray &pdf, const QString &serial) {
    QVERIFY(pdf.startsWith("%PDF-"));
    QVERIFY(pdf.trimmed().endsWith("%%EOF"));
    QCOMPARE(PageCount(pdf), 1);
    QVERIFY(pdf.contains("/Count 1"));
    const QString title = PdfTitle(pdf);
    QVERIFY2(title.contains(QString(serial).replace(u'\n', u' ')), qPrintable(title));
}
