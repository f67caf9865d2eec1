#include "uInternetUpdatesParse.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

QStringList SplitListLines(const QByteArray &answer) {
    const QString text = QString::fromUtf8(answer);
    QStringList rows;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n') continue;
        rows << text.mid(start, i - start);
        if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n') ++i;
        start = i + 1;
    }
    if (start < n) rows << text.mid(start);
    return rows;
}

qsizetype CountListLines(const QByteArray &answer) {
    qsizetype rows = 0;
    const qsizetype n = answer.size();
    const char *p = answer.constData();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] != '\r' && p[i] != '\n') continue;
        ++rows;
        if (p[i] == '\r' && i + 1 < n && p[i + 1] == '\n') ++i;
        start = i + 1;
    }
    return start < n ? rows + 1 : rows;
}

QString FileExtension(const QString &fileName) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? QString() : fileName.mid(dot);
}

TUpdateFileGroup FileGroupOf(const QString &fileName) {
    const QString ext = FileExtension(fileName);
    if (ext == QLatin1String(".frm") || ext == QLatin1String(".firmware")) return ufgFirmware;
    if (ext == QLatin1String(".exe")) return ufgProgram;
    return ufgOther;
}

QString FileCaption(const QString &fileName) {
    if (FileGroupOf(fileName) != ufgFirmware) return fileName;
    QString name = fileName.left(fileName.size() - FileExtension(fileName).size());
    const qsizetype semicolon = name.indexOf(u';');
    if (semicolon >= 0) name.truncate(semicolon);
    return name;
}

bool NeedsStatedLength(const QString &fileName) {
    return FileGroupOf(fileName) != ufgOther;
}

QString EnsureTrailingSeparator(const QString &address) {
    return address.endsWith(u'\\') ? address : address + u'\\';
}

namespace {

// Characters that stand in a URL path as they are (RFC 3986 pchar and the separator).
bool StaysInPath(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return QByteArrayView("-._~!$&'()*+,;=:@/").contains(c);
}

} // namespace

QByteArray EncodeUpdateAddress(const QString &address) {
    QString plain = address;
    plain.replace(u'\\', u'/');
    // The scheme and host stay as written; only the path is escaped.
    qsizetype pathStart = 0;
    const qsizetype schemeEnd = plain.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        pathStart = plain.indexOf(u'/', schemeEnd + 3);
        if (pathStart < 0) pathStart = plain.size();
    }
    QByteArray out = plain.left(pathStart).toUtf8();
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : plain.mid(pathStart).toUtf8()) {
        if (StaysInPath(c)) {
            out += c;
        } else {
            const auto b = static_cast<unsigned char>(c);
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

QString LocalFileNameProblem(const QString &fileName) {
    if (fileName.isEmpty()) return QStringLiteral("it is empty");
    for (const QChar c : fileName)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("it contains a control character");
    if (fileName.startsWith(u'/') || fileName.startsWith(u'\\'))
        return QStringLiteral("it is an absolute path");
    if (fileName.size() >= 2 && fileName.at(1) == u':' && fileName.at(0).isLetter())
        return QStringLiteral("it starts with a drive letter");
    if (fileName.contains(u'/') || fileName.contains(u'\\'))
        return QStringLiteral("it contains a path separator");
    // Alone, a name of dots names this folder or the one above it.
    if (fileName.count(u'.') == fileName.size()) return QStringLiteral("it is \"..\" or \".\"");
    if (fileName.contains(u':')) return QStringLiteral("it contains \":\"");
    return {};
}

QString FreeNumberedPath(const QString &folder, const QString &fileName) {
    const QDir dir(folder);
    QString target = dir.filePath(fileName);
    const QString ext = FileExtension(fileName);
    const QString stem = fileName.left(fileName.size() - ext.size());
    for (int n = 1; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
        target = dir.filePath(stem + u'(' + QString::number(n) + u')' + ext);
    return target;
}

namespace {

// windows-1251 from 0x80 to 0xBF (0x98 is unassigned and kept as U+0098); 0xC0 to 0xFF are
// U+0410 to U+044F in order.
const char16_t Cp1251Upper[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

QString DecodeCp1251(const QByteArray &bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = b < 0x80   ? QChar(b)
                 : b < 0xC0 ? QChar(Cp1251Upper[b - 0x80])
                            : QChar(char16_t(0x0410 + b - 0xC0));
    }
    return text;
}

} // namespace

QString DecodeReleaseNote(const QByteArray &bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? DecodeCp1251(bytes) : text;
}

QString ReleaseNotePreview(const QByteArray &bytes, qsizetype maxBytes) {
    if (bytes.size() <= maxBytes) return DecodeReleaseNote(bytes);
    qsizetype cut = qMax<qsizetype>(maxBytes, 0);
    // Back over the continuation bytes (10xxxxxx) of a character that the cut would split.
    for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(bytes.at(cut)) & 0xC0) == 0x80;
         ++back)
        --cut;
    return DecodeReleaseNote(bytes.left(cut));
}
