#include "uInternetUpdatesParse.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

QStringList SplitListLines(const QByteArray &Answer) {
    const QString Text = QString::fromUtf8(Answer);
    QStringList Rows;
    qsizetype Start = 0;
    const qsizetype N = Text.size();
    for (qsizetype I = 0; I < N; ++I) {
        const QChar C = Text.at(I);
        if (C != u'\r' && C != u'\n') continue;
        Rows << Text.mid(Start, I - Start);
        if (C == u'\r' && I + 1 < N && Text.at(I + 1) == u'\n') ++I;
        Start = I + 1;
    }
    if (Start < N) Rows << Text.mid(Start);
    return Rows;
}

QString FileExtension(const QString &FileName) {
    const qsizetype Dot = FileName.lastIndexOf(u'.');
    return Dot < 0 ? QString() : FileName.mid(Dot);
}

TUpdateFileGroup FileGroupOf(const QString &FileName) {
    const QString Ext = FileExtension(FileName);
    if (Ext == QLatin1String(".frm") || Ext == QLatin1String(".firmware")) return ufgFirmware;
    if (Ext == QLatin1String(".exe")) return ufgProgram;
    return ufgOther;
}

QString FileCaption(const QString &FileName) {
    if (FileGroupOf(FileName) != ufgFirmware) return FileName;
    QString Name = FileName.left(FileName.size() - FileExtension(FileName).size());
    const qsizetype Semicolon = Name.indexOf(u';');
    if (Semicolon >= 0) Name.truncate(Semicolon);
    return Name;
}

QString EnsureTrailingSeparator(const QString &Address) {
    return Address.endsWith(u'\\') ? Address : Address + u'\\';
}

namespace {

// Characters that stand in a URL path as they are (RFC 3986 pchar and the separator).
bool StaysInPath(char C) {
    if ((C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9')) return true;
    return QByteArrayView("-._~!$&'()*+,;=:@/").contains(C);
}

} // namespace

QByteArray EncodeUpdateAddress(const QString &Address) {
    QString Plain = Address;
    Plain.replace(u'\\', u'/');
    // The scheme and host stay as written; only the path is escaped.
    qsizetype PathStart = 0;
    const qsizetype SchemeEnd = Plain.indexOf(QLatin1String("://"));
    if (SchemeEnd >= 0) {
        PathStart = Plain.indexOf(u'/', SchemeEnd + 3);
        if (PathStart < 0) PathStart = Plain.size();
    }
    QByteArray Out = Plain.left(PathStart).toUtf8();
    static const char Hex[] = "0123456789ABCDEF";
    for (const char C : Plain.mid(PathStart).toUtf8()) {
        if (StaysInPath(C)) {
            Out += C;
        } else {
            const auto B = static_cast<unsigned char>(C);
            Out += '%';
            Out += Hex[B >> 4];
            Out += Hex[B & 15];
        }
    }
    return Out;
}

QString LocalFileNameProblem(const QString &FileName) {
    if (FileName.isEmpty()) return QStringLiteral("it is empty");
    for (const QChar C : FileName)
        if (C.unicode() < 0x20 || C.unicode() == 0x7F)
            return QStringLiteral("it contains a control character");
    if (FileName.startsWith(u'/') || FileName.startsWith(u'\\'))
        return QStringLiteral("it is an absolute path");
    if (FileName.size() >= 2 && FileName.at(1) == u':' && FileName.at(0).isLetter())
        return QStringLiteral("it starts with a drive letter");
    if (FileName.contains(u'/') || FileName.contains(u'\\'))
        return QStringLiteral("it contains a path separator");
    // Alone, a name of dots names this folder or the one above it.
    if (FileName.count(u'.') == FileName.size()) return QStringLiteral("it is \"..\" or \".\"");
    if (FileName.contains(u':')) return QStringLiteral("it contains \":\"");
    return {};
}

QString FreeNumberedPath(const QString &Folder, const QString &FileName) {
    const QDir Dir(Folder);
    QString Target = Dir.filePath(FileName);
    const QString Ext = FileExtension(FileName);
    const QString Stem = FileName.left(FileName.size() - Ext.size());
    for (int N = 1; QFileInfo::exists(Target) || QFileInfo(Target).isSymLink(); ++N)
        Target = Dir.filePath(Stem + u'(' + QString::number(N) + u')' + Ext);
    return Target;
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

QString DecodeCp1251(const QByteArray &Bytes) {
    QString Text(Bytes.size(), Qt::Uninitialized);
    QChar *Out = Text.data();
    for (const char C : Bytes) {
        const auto B = static_cast<unsigned char>(C);
        *Out++ = B < 0x80   ? QChar(B)
                 : B < 0xC0 ? QChar(Cp1251Upper[B - 0x80])
                            : QChar(char16_t(0x0410 + B - 0xC0));
    }
    return Text;
}

} // namespace

QString DecodeReleaseNote(const QByteArray &Bytes) {
    QStringDecoder Utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString Text = Utf8.decode(Bytes);
    return Utf8.hasError() ? DecodeCp1251(Bytes) : Text;
}
