// Fuzz target for what the internet update frame makes of the update server's list answers
// (uInternetUpdatesParse): the input is a list answer as the server sends it. Its rows must be
// the text's lines under every line-break convention; each row, taken as a device or file name,
// gets a group and caption of its own shape, is sent as an address that keeps the server's host
// and carries the name back exactly, and, when accepted as a local file name, stays a plain
// name in the chosen folder.
#include "FuzzSupport.h"
#include "uInternetUpdatesParse.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const QString Host = QStringLiteral("updates.example");
const QString BaseAddress = QStringLiteral("http://updates.example/firmware_update/KVBL/");

// The program's folder of the test: a few names a download may meet there already. Removed when
// the process ends.
QTemporaryDir *Folder() {
    static QTemporaryDir dir;
    static const bool filled = [] {
        for (const char *name : {"tool.exe", "tool(1).exe", "notes", "a.b.c"}) {
            QFile f(dir.filePath(QString::fromLatin1(name)));
            if (!f.open(QIODevice::WriteOnly)) return false;
        }
        return true;
    }();
    return filled ? &dir : nullptr;
}

// Rows joined by line feeds are the text with every break made a line feed, less the break that
// ends the last line.
void CheckRows(const QByteArray &Answer, const QStringList &Rows) {
    QString text = QString::fromUtf8(Answer);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    const QString joined = Rows.join(QLatin1Char('\n'));
    CHECK(joined == text, joined);
    for (const QString &row : Rows)
        CHECK(!row.contains(QLatin1Char('\r')) && !row.contains(QLatin1Char('\n')), row);
}

void CheckGroupAndCaption(const QString &Row) {
    const QString ext = FileExtension(Row);
    CHECK(Row.endsWith(ext), Row);
    CHECK(ext.isEmpty() ? !Row.contains(QLatin1Char('.')) : ext.lastIndexOf(QLatin1Char('.')) == 0, Row);
    const TUpdateFileGroup group = FileGroupOf(Row);
    const bool firmware = ext == QLatin1String(".frm") || ext == QLatin1String(".firmware");
    CHECK(group == (firmware ? ufgFirmware : ext == QLatin1String(".exe") ? ufgProgram : ufgOther), Row);
    const QString caption = FileCaption(Row);
    if (!firmware) {
        CHECK(caption == Row, Row);
    } else {
        CHECK(Row.startsWith(caption) && !caption.contains(QLatin1Char(';')), Row);
        const QString stem = Row.left(Row.size() - ext.size());
        CHECK(caption == stem.section(QLatin1Char(';'), 0, 0), Row);
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The address of a device's file list and of a file in it: the host stays the server's, the
// path holds only characters that may stand in it or escapes, and unescaped it is the name.
void CheckAddress(const QString &Row) {
    const QString address = EnsureTrailingSeparator(BaseAddress + Row);
    const QByteArray sent = EncodeUpdateAddress(address);
    const QByteArray prefix = QByteArrayLiteral("http://updates.example");
    CHECK(sent.startsWith(prefix), Row);
    QByteArray path;
    for (qsizetype i = prefix.size(); i < sent.size(); ++i) {
        const char c = sent[i];
        CHECK(c > 0x20 && c < 0x7F && c != '?' && c != '#' && c != '\\', Row);
        if (c == '%') {
            CHECK(i + 2 < sent.size(), Row);
            const int hi = HexValue(sent[i + 1]), lo = HexValue(sent[i + 2]);
            CHECK(hi >= 0 && lo >= 0, Row);
            path += char(hi * 16 + lo);
            i += 2;
        } else {
            path += c;
        }
    }
    QString expected = address.mid(QStringLiteral("http://updates.example").size());
    expected.replace(QLatin1Char('\\'), QLatin1Char('/'));
    CHECK(path == expected.toUtf8(), Row);
    const QUrl url(QString::fromLatin1(sent), QUrl::StrictMode);
    CHECK(url.isValid() && url.scheme() == QLatin1String("http") && url.host() == Host && url.port() == -1,
          Row);
    CHECK(!url.hasQuery() && !url.hasFragment() && url.userInfo().isEmpty(), Row);
}

// An accepted name is one plain entry of the chosen folder, and the numbered path for it is free.
void CheckLocalName(const QString &Row) {
    if (!LocalFileNameProblem(Row).isEmpty()) return;
    CHECK(!Row.isEmpty() && !Row.contains(QLatin1Char('/')) && !Row.contains(QLatin1Char('\\')), Row);
    CHECK(Row != QLatin1String(".") && Row != QLatin1String(".."), Row);
    for (QChar c : Row)
        CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7F, Row);
    const QString folder = Folder()->path();
    const QString target = FreeNumberedPath(folder, Row);
    const QFileInfo info(target);
    CHECK(info.absolutePath() == folder, Row);
    CHECK(QDir::cleanPath(target) == target, Row);
    CHECK(!info.exists() && !info.isSymLink(), Row);
    const QString ext = FileExtension(Row);
    CHECK(info.fileName() == Row ||
              (info.fileName().startsWith(Row.left(Row.size() - ext.size()) + QLatin1Char('(')) &&
               info.fileName().endsWith(QLatin1Char(')') + ext)),
          Row);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    CreateApplication<QCoreApplication>("fuzz_InternetUpdatesParse");
    CHECK(Folder() && Folder()->isValid(), QString());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const QByteArray answer(reinterpret_cast<const char *>(Data), qsizetype(Size));
    const QStringList rows = SplitListLines(answer);
    CheckRows(answer, rows);
    for (const QString &row : rows) {
        CheckGroupAndCaption(row);
        CheckAddress(row);
        CheckLocalName(row);
    }
    return 0;
}
