// What the internet update frame makes of the server's names and answers on its own: list
// lines, file groups and captions, request addresses, local file names, numbered program
// names, and the decoding of release notes.
#include "TestMain.h"
#include "uInternetUpdatesParse.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class TInternetUpdatesParseTest : public QObject {
    Q_OBJECT
private slots:
    void splitListLines_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("LF") << QByteArray("a\nb\n") << QStringList{"a", "b"};
        QTest::newRow("CR") << QByteArray("a\rb\r") << QStringList{"a", "b"};
        QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("blank line") << QByteArray("a\r\n\r\nb") << QStringList{"a", "", "b"};
        QTest::newRow("only a break") << QByteArray("\r\n") << QStringList{""};
        QTest::newRow("empty") << QByteArray() << QStringList{};
        QTest::newRow("spaces kept") << QByteArray(" a \n") << QStringList{" a "};
        QTest::newRow("not UTF-8, CR LF at the end")
            << QByteArray("\xD0\r\n\xFF") << QStringList{QStringLiteral("\uFFFD"), QStringLiteral("\uFFFD")};
    }
    void splitListLines() {
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, rows);
        QCOMPARE(SplitListLines(answer), rows);
        // The count that a list is refused by is the number of rows it would make.
        QCOMPARE(CountListLines(answer), rows.size());
    }

    void groupsAndCaptions_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("group");
        QTest::addColumn<QString>("caption");
        QTest::newRow("frm with entries") << "Main 2.1;DeviceIdentStr=XYZ.frm" << 0 << "Main 2.1";
        QTest::newRow("firmware") << "Tamrel 1.7;DeviceIdentStr=TAMREL-BL.firmware" << 0 << "Tamrel 1.7";
        QTest::newRow("no entries") << "Main 2.2.frm" << 0 << "Main 2.2";
        QTest::newRow("upper-case FRM is other") << "Main.FRM" << 2 << "Main.FRM";
        QTest::newRow("exe") << "tool.exe" << 1 << "tool.exe";
        QTest::newRow("EXE is other") << "tool.EXE" << 2 << "tool.EXE";
        QTest::newRow("text") << "notes.txt" << 2 << "notes.txt";
        QTest::newRow("no extension") << "README" << 2 << "README";
        QTest::newRow("dot in entries") << "A;K=v.1.frm" << 0 << "A";
        QTest::newRow("only an extension") << ".frm" << 0 << "";
    }
    void groupsAndCaptions() {
        QFETCH(QString, name);
        QFETCH(int, group);
        QFETCH(QString, caption);
        QCOMPARE(int(FileGroupOf(name)), group);
        QCOMPARE(FileCaption(name), caption);
    }

    void addresses_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("sent");
        const QString base = "http://127.0.0.1:18080/firmware_update/KVBL/";
        QTest::newRow("device list") << EnsureTrailingSeparator(base)
                                     << QByteArray("http://127.0.0.1:18080/firmware_update/KVBL//");
        QTest::newRow("file list") << EnsureTrailingSeparator(base + "TAMREL")
                                   << QByteArray("http://127.0.0.1:18080/firmware_update/KVBL/TAMREL/");
        QTest::newRow("separator not doubled")
            << EnsureTrailingSeparator(base + "TAMREL\\")
            << QByteArray("http://127.0.0.1:18080/firmware_update/KVBL/TAMREL/");
        QTest::newRow("file") << EnsureTrailingSeparator(base + "TAMREL") + "Main 2.1;DeviceIdentStr=X=Y.frm"
                              << QByteArray("http://127.0.0.1:18080/firmware_update/KVBL/TAMREL/"
                                            "Main%202.1;DeviceIdentStr=X=Y.frm");
        QTest::newRow("characters that end a path")
            << base + "a?b#c%d\"e<>f"
            << QByteArray("http://127.0.0.1:18080/firmware_update/KVBL/"
                          "a%3Fb%23c%25d%22e%3C%3Ef");
        QTest::newRow("Cyrillic") << base + "Тест"
                                  << QByteArray("http://127.0.0.1:18080/firmware_update/KVBL/"
                                                "%D0%A2%D0%B5%D1%81%D1%82");
        QTest::newRow("host alone") << QString("http://host\\") << QByteArray("http://host/");
    }
    void addresses() {
        QFETCH(QString, address);
        QFETCH(QByteArray, sent);
        QCOMPARE(EncodeUpdateAddress(address), sent);
    }

    void localFileNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("problem"); // empty = may be used
        QTest::newRow("plain") << "tool.exe"
                               << "";
        QTest::newRow("spaces and semicolons") << "Tamrel 1.7;DeviceIdentStr=TAMREL-BL.firmware"
                                               << "";
        QTest::newRow("two dots inside") << "tool..v2.exe"
                                         << "";
        QTest::newRow("Cyrillic") << "Программа.exe"
                                  << "";
        QTest::newRow("parent, slash") << "../tool.exe"
                                       << "it contains a path separator";
        QTest::newRow("parent, backslash") << "..\\tool.exe"
                                           << "it contains a path separator";
        QTest::newRow("subfolder") << "bin/tool.exe"
                                   << "it contains a path separator";
        QTest::newRow("absolute") << "/tmp/tool.exe"
                                  << "it is an absolute path";
        QTest::newRow("absolute, backslash") << "\\tool.exe"
                                             << "it is an absolute path";
        QTest::newRow("network share") << "\\\\host\\share\\tool.exe"
                                       << "it is an absolute path";
        QTest::newRow("drive letter") << "C:tool.exe"
                                      << "it starts with a drive letter";
        QTest::newRow("drive letter and path") << "C:\\Windows\\tool.exe"
                                               << "it starts with a drive letter";
        QTest::newRow("stream name") << "tool.exe:x"
                                     << "it contains \":\"";
        QTest::newRow("dot dot alone") << ".."
                                       << "it is \"..\" or \".\"";
        QTest::newRow("dot alone") << "."
                                   << "it is \"..\" or \".\"";
        QTest::newRow("tab") << "to\tol.exe"
                             << "it contains a control character";
        QTest::newRow("escape") << QString("tool\x1b.exe") << "it contains a control character";
        QTest::newRow("delete") << QString("tool\x7f.exe") << "it contains a control character";
        QTest::newRow("empty") << ""
                               << "it is empty";
    }
    void localFileNames() {
        QFETCH(QString, name);
        QFETCH(QString, problem);
        QCOMPARE(LocalFileNameProblem(name), problem);
    }

    void numberedProgramNames() {
        QTemporaryDir dir;
        auto touch = [&](const QString &name) {
            QFile f(QDir(dir.path()).filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        };
        const QDir d(dir.path());
        QCOMPARE(FreeNumberedPath(dir.path(), "tool.exe"), d.filePath("tool.exe"));
        touch("tool.exe");
        QCOMPARE(FreeNumberedPath(dir.path(), "tool.exe"), d.filePath("tool(1).exe"));
        touch("tool(1).exe");
        QCOMPARE(FreeNumberedPath(dir.path(), "tool.exe"), d.filePath("tool(2).exe"));
        touch("setup.v2.exe");
        QCOMPARE(FreeNumberedPath(dir.path(), "setup.v2.exe"), d.filePath("setup.v2(1).exe"));
        // A dangling link counts as taken: nothing is written through it.
        QVERIFY(QFile::link(d.filePath("nowhere"), d.filePath("link.exe")));
        QCOMPARE(FreeNumberedPath(dir.path(), "link.exe"), d.filePath("link(1).exe"));
    }

    void releaseNotes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const QString russian = QStringLiteral("Прошивка 1.7: исправлен ток канала 2. Ёё №5 «—»");
        QTest::newRow("UTF-8") << russian.toUtf8() << russian;
        QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF") + russian.toUtf8() << russian;
        QTest::newRow("ASCII") << QByteArray("Fixed.\r\n") << QString("Fixed.\r\n");
        // The same text in windows-1251.
        QTest::newRow("windows-1251")
            << QByteArray(
                   "\xCF\xF0\xEE\xF8\xE8\xE2\xEA\xE0 1.7: \xE8\xF1\xEF\xF0\xE0\xE2\xEB\xE5\xED \xF2\xEE\xEA "
                   "\xEA\xE0\xED\xE0\xEB\xE0 2. \xA8\xB8 \xB9"
                   "5 \xAB\x97\xBB")
            << russian;
        QTest::newRow("windows-1251 upper half")
            << QByteArray("\x80\x88\x98\xA0\xC0\xDF\xE0\xFF") << QStringLiteral("Ђ€\u0098\u00A0АЯая");
        QTest::newRow("UTF-8 cut in a character") << QByteArray("\xD0") << QStringLiteral("Р");
    }
    void releaseNotes() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(DecodeReleaseNote(bytes), text);
    }

    // The start of a long note: cut back to a whole character when the note is UTF-8 (else
    // the cut text would not be UTF-8 and would be read as windows-1251).
    void releaseNotePreview_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("maxBytes");
        QTest::addColumn<QString>("text");
        const QByteArray ab = QStringLiteral("аб").toUtf8(); // two bytes each
        QTest::newRow("shorter than the cap") << ab << 10 << QStringLiteral("аб");
        QTest::newRow("cut between characters") << ab << 2 << QStringLiteral("а");
        QTest::newRow("cut inside a two-byte character") << ab << 3 << QStringLiteral("а");
        QTest::newRow("cut inside a four-byte character")
            << QByteArray("x\xF0\x9F\x98\x80y") << 4 << QStringLiteral("x");
        QTest::newRow("windows-1251 cut anywhere") << QByteArray("\xE0\xE1\xE2") << 2 << QStringLiteral("аб");
    }
    void releaseNotePreview() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, maxBytes);
        QFETCH(QString, text);
        QCOMPARE(ReleaseNotePreview(bytes, maxBytes), text);
    }
};

TAMREL_TEST_MAIN_CORE(TInternetUpdatesParseTest)
#include "tst_InternetUpdatesParse.moc"
