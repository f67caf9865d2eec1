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
        TSimUpdateServerOptions o;
        o.Root = Tree.path();
        o.Port = 0;
        Server = std::make_unique<TSimUpdateServer>(o);
        QString error;
        if (!Server->Start(&error)) qFatal("update server: %s", qPrintable(error));
        QDir(Outside.path()).mkdir(QStringLiteral("app"));
        TKvApplication::SetErrorDisplay([this](const QString &m) { Errors << m; });
        Frame = std::make_unique<TFrameInternetUpdates>();
        Frame->BaseAddress = Server->BaseAddress();
        Frame->ProgramFolder = ProgramFolder();
        Frame->LoadFirmwareBuffer = [this](const QByteArray &b, const QString &n, bool h) {
            Loads << TLoadCall{b, n, h};
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
    void Put(const QString &relPath, const QByteArray &bytes) {
        const QString path = QDir(Kvbl()).filePath(relPath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
    }
    // The device list and one device's file list, as index files (the server's order).
    void PutDevices(const QByteArray &list) { Put(QStringLiteral("index.txt"), list); }
    void PutFiles(const QString &device, const QByteArray &list) {
        Put(device + QStringLiteral("/index.txt"), list);
    }

    QStringList DeviceRows() const {
        QStringList rows;
        for (int i = 0; i < Frame->ListViewDevices->topLevelItemCount(); ++i)
            rows << Frame->ListViewDevices->topLevelItem(i)->text(0);
        return rows;
    }
    // Each file row as "<group>|<caption>|<file name>", in list order within the groups.
    QStringList FileRows() const {
        QStringList rows;
        for (int g = 0; g < 3; ++g) {
            QTreeWidgetItem *group = Frame->FileGroupItem(g);
            for (int i = 0; i < group->childCount(); ++i)
                rows << QStringLiteral("%1|%2|%3")
                            .arg(g)
                            .arg(group->child(i)->text(0), group->child(i)->text(1));
        }
        return rows;
    }
    QString SelectedFileName() const {
        const QTreeWidgetItem *row = Frame->SelectedFileRow();
        return row ? row->text(1) : QStringLiteral("<none>");
    }
    QStringList RequestPaths() const {
        QStringList paths;
        for (const TSimUpdateRequest &r : Server->Requests)
            paths << QString::fromUtf8(r.Path);
        return paths;
    }
    void Click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
    // Selects the file row whose file name is FileName.
    bool SelectFile(const QString &fileName) {
        for (int g = 0; g < 3; ++g)
            for (int i = 0; i < Frame->FileGroupItem(g)->childCount(); ++i)
                if (Frame->FileGroupItem(g)->child(i)->text(1) == fileName) {
                    Frame->ListViewFiles->setCurrentItem(Frame->FileGroupItem(g)->child(i));
                    return true;
                }
        return false;
    }
};

// Waits until no request runs (every request ends, at the latest by its time-out).
#define WAIT_IDLE(F) QTRY_VERIFY_WITH_TIMEOUT(!(F).Frame->IsRequestRunning(), 20000)
