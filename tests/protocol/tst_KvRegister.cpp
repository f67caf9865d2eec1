// Register conversions, error texts, command names, DumpData and the trace log file.
#include "KvTestFixture.h"
#include "TestMain.h"
#include "uTickFreeze.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

namespace {
TKvRegister Reg(TKvRegisterType type, const QByteArray &raw = {}) {
    TKvRegister r;
    r.RegType = type;
    r.RawData = raw;
    return r;
}
} // namespace

class TestKvRegister : public QObject {
    Q_OBJECT
private slots:
    void registerToVariant_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("S16 FE FF") << int(rtS16) << Hex("FE FF") << QVariant::fromValue<qint16>(-2);
        // The same two bytes read unsigned: 0xFFFE.
        QTest::newRow("U16 FE FF") << int(rtU16) << Hex("FE FF") << QVariant::fromValue<quint16>(65534);
        QTest::newRow("U8") << int(rtU8) << Hex("2A") << QVariant::fromValue<quint8>(42);
        QTest::newRow("S8") << int(rtS8) << Hex("FF") << QVariant::fromValue<qint8>(-1);
        QTest::newRow("U32") << int(rtU32) << Hex("01 00 00 80") << QVariant::fromValue<quint32>(0x80000001u);
        QTest::newRow("S32") << int(rtS32) << Hex("FF FF FF FF") << QVariant::fromValue<qint32>(-1);
        QTest::newRow("Float 1.5") << int(rtFloat) << Hex("00 00 C0 3F") << QVariant(1.5);
        QTest::newRow("Double -2") << int(rtDouble) << Hex("00 00 00 00 00 00 00 C0") << QVariant(-2.0);
        QTest::newRow("String") << int(rtString) << QByteArray("Tavik") << QVariant(QByteArray("Tavik"));
        QTest::newRow("empty U16") << int(rtU16) << QByteArray() << QVariant(QByteArray());
        QTest::newRow("empty String") << int(rtString) << QByteArray() << QVariant(QByteArray());
    }
    void registerToVariant() {
        QFETCH(int, type);
        QFETCH(QByteArray, raw);
        QFETCH(QVariant, expected);
        const QVariant v = RegisterToVariant(Reg(TKvRegisterType(type), raw));
        QCOMPARE(v.typeId(), expected.typeId());
        QCOMPARE(v, expected);
    }

    void typeAboveTenKeepsValue() {
        QVariant v(7);
        RegisterToVariant(Reg(TKvRegisterType(11), Hex("01")), v);
        QCOMPARE(v, QVariant(7));
    }

    void variantToRegister_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QByteArray>("raw");
        QTest::newRow("300 into U8") << int(rtU8) << QVariant(300) << Hex("2C");
        QTest::newRow("2.5 into U8, halves to even") << int(rtU8) << QVariant(2.5) << Hex("02");
        QTest::newRow("3.5 into U8") << int(rtU8) << QVariant(3.5) << Hex("04");
        QTest::newRow("300 into U16") << int(rtU16) << QVariant(300) << Hex("2C 01");
        QTest::newRow("-2 into S16") << int(rtS16) << QVariant(-2) << Hex("FE FF");
        QTest::newRow("text into U16") << int(rtU16) << QVariant(QStringLiteral("513")) << Hex("01 02");
        QTest::newRow("U32 from 64-bit")
            << int(rtU32) << QVariant(qint64(0x1FFFFFFFFll)) << Hex("FF FF FF FF");
        QTest::newRow("Float") << int(rtFloat) << QVariant(1.5) << Hex("00 00 C0 3F");
        QTest::newRow("Double") << int(rtDouble) << QVariant(-2.0) << Hex("00 00 00 00 00 00 00 C0");
        QTest::newRow("string into String")
            << int(rtString) << QVariant(QStringLiteral("Abc")) << QByteArray("Abc");
        QTest::newRow("bytes into Binary") << int(rtBinary) << QVariant(Hex("00 7E")) << Hex("00 7E");
    }
    void variantToRegister() {
        QFETCH(int, type);
        QFETCH(QVariant, value);
        QFETCH(QByteArray, raw);
        TKvRegister r = Reg(TKvRegisterType(type), Hex("99"));
        VariantToRegister(r, value);
        QCOMPARE(r.RawData.toHex(' '), raw.toHex(' '));
    }

    void integerIntoStringLeavesRawData() {
        TKvRegister r = Reg(rtString, "old");
        VariantToRegister(r, QVariant(5));
        QCOMPARE(r.RawData, QByteArray("old"));
    }

    void conversionErrors_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("text that is no number") << int(rtU8) << QVariant(QStringLiteral("abc"));
        QTest::newRow("beyond 32 bits for U16") << int(rtU16) << QVariant(qint64(1) << 40);
        QTest::newRow("beyond 32 bits for S32") << int(rtS32) << QVariant(qint64(3000000000ll));
    }
    void conversionErrors() {
        QFETCH(int, type);
        QFETCH(QVariant, value);
        TKvRegister r = Reg(TKvRegisterType(type));
        QVERIFY_THROWS_EXCEPTION(EKvConvertError, VariantToRegister(r, value));
        QCOMPARE(r.RawData.size(), int(KvRegisterTypeSize[type])); // already sized
    }

    void texts() {
        QCOMPARE(ErrorText(0), QStringLiteral("OK"));
        QCOMPARE(ErrorText(18), QStringLiteral("Неверный адрес регистра"));
        QCOMPARE(ErrorText(5), QStringLiteral("5"));
        QCOMPARE(CommandName(7), QStringLiteral("WriteReg"));
        QCOMPARE(CommandName(19), QStringLiteral("ReadReg2"));
        QCOMPARE(CommandName(9), QStringLiteral("Command_AutoSend"));
        QCOMPARE(CommandName(16), QStringLiteral("16"));
    }

    void dumpData_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("text");
        QTest::newRow("frame") << Hex("7E 08 03 F5 7E") << QStringLiteral("(5): [7E][08][03][F5][7E]");
        QTest::newRow("six letters") << QByteArray("ABCDEF") << QStringLiteral("(6): ABCDEF");
        QTest::newRow("four letters") << QByteArray("ABCD") << QStringLiteral("(4): [41][42][43][44]");
        QTest::newRow("empty") << QByteArray() << QStringLiteral("(0): ");
        QTest::newRow("blank breaks a run")
            << QByteArray("Tavik TAMREL") << QStringLiteral("(12): Tavik[20]TAMREL");
        QTest::newRow("bang is hex") << QByteArray("!(((((") << QStringLiteral("(6): [21](((((");
    }
    void dumpData() {
        QFETCH(QByteArray, data);
        QFETCH(QString, text);
        QCOMPARE(DumpData(data), text);
    }

    void logFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString saved = QDir::currentPath();
        QDir::setCurrent(dir.path());
        {
            // The line's time is read from the tick: 1.500 s after the engine's start exactly.
            TTickFreeze frozen;
            TTickShift tick;
            TKvCapture cap;
            auto e = MakeEngine(cap, {}, true, QStringLiteral("TFrameLinkLog"));
            QVERIFY(e->LogEnabled());
            QVERIFY(e->LogFileName().startsWith(QStringLiteral("LinkLog ")));
            QVERIFY(QRegularExpression(
                        QStringLiteral("^LinkLog \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d-\\d\\d-\\d\\d\\.log$"))
                        .match(e->LogFileName())
                        .hasMatch());
            tick.Advance(1500);
            e->LogMessage(QStringLiteral("hello"));
            e->RequestRegister(0, 0, {});
            const QString name = e->LogFileName();
            QFile f(name);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QList<QByteArray> lines = f.readAll().split('\n');
            QVERIFY(lines.size() >= 3);
            QVERIFY(lines[0].endsWith(" KvProtocol Created\r"));
            QLocale locale = QLocale::system();
            const QString sep = locale.decimalPoint();
            QVERIFY2(lines[1].startsWith((QStringLiteral("1") + sep + QStringLiteral("50")).toLocal8Bit()),
                     lines[1]);
            QVERIFY(lines[1].endsWith(" hello\r"));
            QVERIFY(lines[2].endsWith(" ReadReg  0\r"));
        }
        QDir::setCurrent(saved);
    }

    void logNamesKeptAndOff() {
        TKvCapture cap;
        auto plain = MakeEngine(cap, {}, false, QStringLiteral("TamrelLog"));
        QVERIFY(!plain->LogEnabled());
        plain->LogMessage(QStringLiteral("nothing")); // returns at once, creates nothing
        QVERIFY(plain->LogFileName().isEmpty());
    }

    void logWriteErrorReleasesTheLock() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString saved = QDir::currentPath();
        QDir::setCurrent(dir.path());
        // A file size limit makes the log's writes fail (EFBIG) once it is reached.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        {
            TKvCapture cap;
            auto e = MakeEngine(cap, {}, true, QStringLiteral("TamrelLog"));
            rlimit small = old;
            small.rlim_cur = 256;
            setrlimit(RLIMIT_FSIZE, &small);
            int failures = 0;
            for (int i = 0; i < 50; ++i) {
                try {
                    e->LogMessage(QStringLiteral("a line of the trace log that fills the file"));
                } catch (const EKvInOutError &) {
                    ++failures; // a second failure proves the lock was released by the first
                }
            }
            setrlimit(RLIMIT_FSIZE, &old);
            QVERIFY(failures >= 2);
        }
        std::signal(SIGXFSZ, SIG_DFL);
        QDir::setCurrent(saved);
    }

    void logFileThatCannotBeCreated() {
        TKvCapture cap;
        // A base name inside a folder that does not exist: construction fails clearly.
        QVERIFY_THROWS_EXCEPTION(EKvInOutError,
                                 MakeEngine(cap, {}, true, QStringLiteral("/nonexistent-folder/x/Tamrel")));
    }
};

TAMREL_TEST_MAIN_CORE(TestKvRegister)
#include "tst_KvRegister.moc"
