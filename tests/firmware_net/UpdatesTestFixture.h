#pragma once
// A real update server on 127.0.0.1 (the demo server, in-process) serving a folder tree that
// each test writes, and an internet update frame pointed at it, with the application's
// error display and the firmware window's callback captured.
#include "uFrameInternetUpdates.h"
#include "uKvApplication.h"
#include "uSimUpdateServer.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest/QtTest>

#include <memory>

struct TLoadCall {
    QByteArray Buffer;
    QString FileName;
    bool Hide = false;
};

class TUpdatesFixture {
public:
    QTemporaryDir Tree;    // served: firmware_update/KVBL/...
    QTemporaryDir Outside; // holds the program folder "app" and nothing else
    std::unique_ptr<TSimUpdateServer> Server;
    std::unique_ptr<TFrameInternetUpdates> Frame;
    QStringList Errors;
    QVector<TLoadCall> Loads;

    TUpdatesFixture() {
        TSimUpdateServerOptions O;
        O.Root = Tree.path();
        O.Port = 0;
        Server = std::make_unique<TSimUpdateServer>(O);
        QString Error;
        if (!Server->Start(&Error)) qFatal("update server: %s", qPrintable(Error));
        QDir(Outside.path()).mkdir(QStringLiteral("app"));
        TKvApplication::SetErrorDisplay([this](const QString &M) { Errors << M; });
        Frame = std::make_unique<TFrameInternetUpdates>();
        Frame->BaseAddress = Server->BaseAddress();
        Frame->ProgramFolder = ProgramFolder();
        Frame->LoadFirmwareBuffer = [this](const QByteArray &B, const QString &N, bool H) {
            Loads << TLoadCall{B, N, H};
        };
        Frame->resize(560, 520);
    }
    ~TUpdatesFixture() {
        Frame.reset();
        TKvApplication::SetErrorDisplay({});
    }

    QString ProgramFolder() const { return QDir(Outside.path()).filePath(QStringLiteral("app")); }
    QString Kvbl() const { return QDir(Tree.path()).filePath(QStringLiteral("firmware_update/KVBL")); }

    // Writes a file below firmware_update/KVBL/ of the served tree.
    void Put(const QString &RelPath, const QByteArray &Bytes) {
        const QString Path = QDir(Kvbl()).filePath(RelPath);
        QDir().mkpath(QFileInfo(Path).absolutePath());
        QFile F(Path);
        if (!F.open(QIODevice::WriteOnly) || F.write(Bytes) != Bytes.size())
            qFatal("cannot write %s", qPrintable(Path));
    }
    // The device list and one device's file list, as index files (the server's order).
    void PutDevices(const QByteArray &List) { Put(QStringLiteral("index.txt"), List); }
    void PutFiles(const QString &Device, const QByteArray &List) {
        Put(Device + QStringLiteral("/index.txt"), List);
    }

    QStringList DeviceRows() const {
        QStringList Rows;
        for (int I = 0; I < Frame->ListViewDevices->topLevelItemCount(); ++I)
            Rows << Frame->ListViewDevices->topLevelItem(I)->text(0);
        return Rows;
    }
    // Each file row as "<group>|<caption>|<file name>", in list order within the groups.
    QStringList FileRows() const {
        QStringList Rows;
        for (int G = 0; G < 3; ++G) {
            QTreeWidgetItem *Group = Frame->FileGroupItem(G);
            for (int I = 0; I < Group->childCount(); ++I)
                Rows << QStringLiteral("%1|%2|%3")
                            .arg(G)
                            .arg(Group->child(I)->text(0), Group->child(I)->text(1));
        }
        return Rows;
    }
    QString SelectedFileName() const {
        const QTreeWidgetItem *Row = Frame->SelectedFileRow();
        return Row ? Row->text(1) : QStringLiteral("<none>");
    }
    QStringList RequestPaths() const {
        QStringList Paths;
        for (const TSimUpdateRequest &R : Server->Requests)
            Paths << QString::fromUtf8(R.Path);
        return Paths;
    }
    void Click(QPushButton *Button) { QTest::mouseClick(Button, Qt::LeftButton); }
    // Selects the file row whose file name is FileName.
    bool SelectFile(const QString &FileName) {
        for (int G = 0; G < 3; ++G)
            for (int I = 0; I < Frame->FileGroupItem(G)->childCount(); ++I)
                if (Frame->FileGroupItem(G)->child(I)->text(1) == FileName) {
                    Frame->ListViewFiles->setCurrentItem(Frame->FileGroupItem(G)->child(I));
                    return true;
                }
        return false;
    }
};

// Waits until no request runs (every request ends, at the latest by its time-out).
#define WAIT_IDLE(F) QTRY_VERIFY_WITH_TIMEOUT(!(F).Frame->IsRequestRunning(), 20000)
