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
void CheckRows(const QByteArray &answer, const QStringList &rows) {
    QString text = QString::fromUtf8(answer);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    const QString joined = rows.join(QLatin1Char('\n'));
    CHECK(joined == text, joined);
    for (const QString &row : rows)
        CHECK(!row.contains(QLatin1Char('\r')) && !row.contains(QLatin1Char('\n')), row);
}

void CheckGroupAndCaption(const QString &row) {
    const QString ext = FileExtension(row);
    CHECK(row.endsWith(ext), row);
    CHECK(ext.isEmpty() ? !row.contains(QLatin1Char('.')) : ext.lastIndexOf(QLatin1Char('.')) == 0, row);
    const TUpdateFileGroup group = FileGroupOf(row);
    const bool firmware = ext == QLatin1String(".frm") || ext == QLatin1String(".firmware");
    CHECK(group == (firmware ? ufgFirmware : ext == QLatin1String(".exe") ? ufgProgram : ufgOther), row);
    const QString caption = FileCaption(row);
    if (!firmware) {
        CHECK(caption == row, row);
    } else {
        CHECK(row.startsWith(caption) && !caption.contains(QLatin1Char(';')), row);
        const QString stem = row.left(row.size() - ext.size());
        CHECK(caption == stem.section(QLatin1Char(';'), 0, 0), row);
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The address of a device's file list and of a file in it: the host stays the server's, the
// path holds only characters that may stand in it or escapes, and unescaped it is the name.
void CheckAddress(const QString &row) {
    const QString address = EnsureTrailingSeparator(BaseAddress + row);
    const QByteArray sent = EncodeUpdateAddress(address);
    const QByteArray prefix = QByteArrayLiteral("http://updates.example");
    CHECK(sent.startsWith(prefix), row);
    QByteArray path;
    for (qsizetype i = prefix.size(); i < sent.size(); ++i) {
        const char c = sent[i];
        CHECK(c > 0x20 && c < 0x7F && c != '?' && c != '#' && c != '\\', row);
        if (c == '%') {
            CHECK(i + 2 < sent.size(), row);
            const int hi = HexValue(sent[i + 1]), lo = HexValue(sent[i + 2]);
            CHECK(hi >= 0 && lo >= 0, row);
            path += char(hi * 16 + lo);
            i += 2;
        } else {
            path += c;
        }
    }
    QString expected = address.mid(QStringLiteral("http://updates.example").size());
    expected.replace(QLatin1Char('\\'), QLatin1Char('/'));
    CHECK(path == expected.toUtf8(), row);
    const QUrl url(QString::fromLatin1(sent), QUrl::StrictMode);
    CHECK(url.isValid() && url.scheme() == QLatin1String("http") && url.host() == Host && url.port() == -1,
          row);
    CHECK(!url.hasQuery() && !url.hasFragment() && url.userInfo().isEmpty(), row);
}

// An accepted name is one plain entry of the chosen folder, and the numbered path for it is free.
void CheckLocalName(const QString &row) {
    if (!LocalFileNameProblem(row).isEmpty()) return;
    CHECK(!row.isEmpty() && !row.contains(QLatin1Char('/')) && !row.contains(QLatin1Char('\\')), row);
    CHECK(row != QLatin1String(".") && row != QLatin1String(".."), row);
    for (QChar c : row)
        CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7F, row);
    const QString folder = Folder()->path();
    const QString target = FreeNumberedPath(folder, row);
    const QFileInfo info(target);
    CHECK(info.absolutePath() == folder, row);
    CHECK(QDir::cleanPath(target) == target, row);
    CHECK(!info.exists() && !info.isSymLink(), row);
    const QString ext = FileExtension(row);
    CHECK(info.fileName() == row ||
              (info.fileName().startsWith(row.left(row.size() - ext.size()) + QLatin1Char('(')) &&
               info.fileName().endsWith(QLatin1Char(')') + ext)),
          row);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    CreateApplication<QCoreApplication>("fuzz_InternetUpdatesParse");
    CHECK(Folder() && Folder()->isValid(), QString());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray answer(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList rows = SplitListLines(answer);
    CheckRows(answer, rows);
    // A list is refused by this count before its rows are made: it must be their number.
    CHECK(CountListLines(answer) == rows.size(), QString::number(CountListLines(answer)));
    // A release note's start decodes like the note cut at a character.
    const QString preview = ReleaseNotePreview(answer, answer.size() / 2);
    CHECK(preview.size() <= answer.size() / 2 + 1, preview);
    for (const QString &row : rows) {
        CheckGroupAndCaption(row);
        CheckAddress(row);
        CheckLocalName(row);
    }
    return 0;
}
