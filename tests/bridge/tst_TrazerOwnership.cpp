// Objects under the server's names that are not its own to take: another user's, one that
// other users may read or write, a special file, a symbolic link. The server refuses, names
// the conflict, publishes nothing and leaves the object exactly as it was (owner, mode, size,
// contents), also when it ends. Objects it creates itself are this user's, mode 0600,
// whatever the umask.
#include "TestMain.h"
#include "TrazerTestSupport.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where the C library keeps POSIX shared memory on Linux.
QString ShmPath(const QString &name) {
    return QStringLiteral("/dev/shm/") + name;
}

enum TPlanted { plMode0666, plMode0640, plOtherOwner, plFifo, plSymlink };

constexpr uid_t Nobody = 65534;
constexpr int PlantedSize = 4096;

QByteArray Pattern() {
    QByteArray bytes(PlantedSize, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + 1);
    return bytes;
}

// What an object looks like, to tell that it was left alone.
struct TLook {
    bool Exists = false;
    mode_t Mode = 0;
    uid_t Owner = 0;
    off_t Size = 0;
    ino_t Inode = 0;
    QByteArray Contents; // of a plain file
    bool operator==(const TLook &) const = default;
};

TLook LookAt(const QString &path) {
    TLook look;
    struct stat st {};
    if (lstat(path.toLocal8Bit().constData(), &st) != 0) return look;
    look = {true, st.st_mode, st.st_uid, st.st_size, st.st_ino, {}};
    if (S_ISREG(st.st_mode)) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) look.Contents = file.readAll();
    }
    return look;
}

QString Describe(const TLook &look) {
    return QStringLiteral("exists %1 mode %2 owner %3 size %4 %5 bytes read")
        .arg(look.Exists)
        .arg(uint(look.Mode), 0, 8)
        .arg(look.Owner)
        .arg(qint64(look.Size))
        .arg(look.Contents.size());
}

// A shared-memory object with the pattern inside, mode set exactly.
bool PlantObject(const QString &name, mode_t mode, uid_t owner) {
    const int fd = shm_open(("/" + name).toUtf8().constData(), O_RDWR | O_CREAT | O_EXCL, mode);
    if (fd < 0) return false;
    const QByteArray bytes = Pattern();
    const bool done = fchmod(fd, mode) == 0 && ftruncate(fd, PlantedSize) == 0 &&
                      pwrite(fd, bytes.constData(), size_t(bytes.size()), 0) == bytes.size() &&
                      (owner == geteuid() || fchown(fd, owner, owner) == 0);
    close(fd);
    return done;
}

} // namespace

class TestTrazerOwnership : public QObject {
    Q_OBJECT

    TPrivateSettings FSettings; // the announcement a refused server must not write
    QTemporaryDir FFiles;       // the file a planted symbolic link points to

private slots:
    void initTestCase() {
        QVERIFY(FSettings.Dir.isValid());
        QVERIFY(FFiles.isValid());
    }

    void foreignObjectIsRefusedAndLeftAlone_data() {
        QTest::addColumn<bool>("liveness"); // planted under the liveness object's name, else the block's
        QTest::addColumn<int>("planted");
        // How the refusal starts after the bridge's name; %1: the planted object's name.
        QTest::addColumn<QString>("conflict");
        for (const bool liveness : {false, true}) {
            const char *which = liveness ? "liveness object" : "block";
            QTest::addRow("%s: mode 0666", which)
                << liveness << int(plMode0666)
                << "the shared-memory object %1 has mode 0666: other users may "
                   "use it (only one of mode 0600 is taken over)";
            QTest::addRow("%s: mode 0640", which)
                << liveness << int(plMode0640)
                << "the shared-memory object %1 has mode 0640: other users may "
                   "use it (only one of mode 0600 is taken over)";
            QTest::addRow("%s: another user's, mode 0600", which)
                << liveness << int(plOtherOwner)
                << "the shared-memory object %1 belongs to user nobody (uid 65534), not to this user";
            QTest::addRow("%s: a FIFO", which)
                << liveness << int(plFifo) << "%1 exists and is no shared-memory object (a special file)";
            QTest::addRow("%s: a symbolic link to a file of this user", which)
                << liveness << int(plSymlink) << "%1 exists and is a symbolic link";
        }
    }
    void foreignObjectIsRefusedAndLeftAlone() {
        QFETCH(bool, liveness);
        QFETCH(int, planted);
        QFETCH(QString, conflict);
        const QString name = UniqueServerName(QStringLiteral("Foreign"));
        const QString plantedName = liveness ? name + QStringLiteral("Mutex") : name;
        const QString otherName = liveness ? name : name + QStringLiteral("Mutex");
        const QString path = ShmPath(plantedName);
        const QString target = FFiles.filePath(plantedName);
        const auto cleanup = qScopeGuard([&] {
            QFile::remove(path);
            QFile::remove(target);
        });
        switch (TPlanted(planted)) {
        case plMode0666:
            QVERIFY(PlantObject(plantedName, 0666, geteuid()));
            break;
        case plMode0640:
            QVERIFY(PlantObject(plantedName, 0640, geteuid()));
            break;
        case plOtherOwner:
            // Only root can give an object to another user (the CI runs the tests as root).
            if (geteuid() != 0) QSKIP("an object of another user can only be planted as root");
            QVERIFY(PlantObject(plantedName, 0600, Nobody));
            break;
        case plFifo:
            QCOMPARE(mkfifo(path.toLocal8Bit().constData(), 0600), 0);
            break;
        case plSymlink: {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(Pattern()), qint64(PlantedSize));
            file.close();
            QCOMPARE(symlink(target.toLocal8Bit().constData(), path.toLocal8Bit().constData()), 0);
            break;
        }
        }
        const TLook before = LookAt(path);
        const TLook targetBefore = LookAt(target);
        QVERIFY(before.Exists);

        auto e = std::make_unique<TServedEngine>(name, TKvRegistersDynArray{Declared(6, rtU16)});
        TTrazerServer *server = e->Server();
        QVERIFY(server);
        const QString expected = QStringLiteral("Scope bridge \"%1\" is off: ").arg(name) +
                                 conflict.arg(QStringLiteral("/") + plantedName);
        QVERIFY2(server->Refusal().startsWith(expected), qPrintable(server->Refusal()));
        QVERIFY(!server->PSharedBuffer);
        QCOMPARE(server->HFileMapping, TTrazerHandle(0));
        QCOMPARE(server->HMutexProtocolLive, TTrazerHandle(0));
        QVERIFY(!e->Engine->OnReceivedRegisterTrazer);
        QVERIFY2(LookAt(path) == before, qPrintable(Describe(LookAt(path))));
        QVERIFY2(LookAt(target) == targetBefore, qPrintable(Describe(LookAt(target))));
        QVERIFY(!LookAt(ShmPath(otherName)).Exists); // nothing of this server's is left
        QVERIFY(!QSettings(QStringLiteral("Kavetta"), QStringLiteral("Trazer")).contains(name));
        // The engine works as without a server: nothing is written to the tester on the
        // planted object's behalf.
        e->Traffic();
        QVERIFY(e->Sent.isEmpty());
        QCOMPARE(e->Notified, QList<quint8>{2});

        e.reset();
        QVERIFY2(LookAt(path) == before, qPrintable(Describe(LookAt(path))));
        QVERIFY2(LookAt(target) == targetBefore, qPrintable(Describe(LookAt(target))));
        QVERIFY(!LookAt(ShmPath(otherName)).Exists);
    }

    // The umask takes bits away from a new object's mode: the server's objects still get
    // exactly 0600, so that its own next start can take them over and its companion (the same
    // user) can write the block.
    void ownObjectsHaveMode0600WhateverTheUmask_data() {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 0000") << 0000;
        QTest::newRow("umask 0022") << 0022;
        QTest::newRow("umask 0277 (would leave 0400)") << 0277;
        QTest::newRow("umask 0377 (would leave 0400)") << 0377;
    }
    void ownObjectsHaveMode0600WhateverTheUmask() {
        QFETCH(int, mask);
        const QString name = UniqueServerName(QStringLiteral("Mask"));
        const mode_t previous = umask(mode_t(mask));
        auto e = std::make_unique<TServedEngine>(name);
        umask(previous);
        QVERIFY2(e->Server()->Refusal().isEmpty(), qPrintable(e->Server()->Refusal()));
        for (const QString &object : {name, name + QStringLiteral("Mutex")}) {
            const TLook look = LookAt(ShmPath(object));
            QVERIFY(look.Exists);
            QVERIFY(S_ISREG(look.Mode));
            QCOMPARE(uint(look.Mode & 07777), 0600u);
            QCOMPARE(look.Owner, geteuid());
        }
        e.reset();
        QVERIFY(!LookAt(ShmPath(name)).Exists);
        QVERIFY(!LookAt(ShmPath(name + QStringLiteral("Mutex"))).Exists);
    }
};

TAMREL_TEST_MAIN_CORE(TestTrazerOwnership)
#include "tst_TrazerOwnership.moc"
