#pragma once
// Where the files that the program keeps next to itself go (chart screenshots, programs from
// the update server): into the program's folder while this user may write there and it is not
// the folder the program was installed into, which belongs to the package manager; otherwise
// into the user's own folder of that kind (Pictures, Downloads), made when missing. QtCore only.
#include <QStandardPaths>
#include <QString>

struct TSaveFolder {
    QString Path;               // the folder to write into
    bool NextToProgram = false; // it is the program's own folder
};

// Whether files may be written next to a program in Folder: an existing folder this user may
// write into, other than InstallFolder (empty: the folder this build installs programs into).
// Both are compared as canonical paths, so a link to the installed folder is that folder.
bool ProgramFolderTakesFiles(const QString &folder, const QString &installFolder = QString());

// The folder for a file of the program's folder ProgramFolder (empty: the running program's);
// Instead is the user's folder to use when the program's folder takes no files.
TSaveFolder SaveFolder(QStandardPaths::StandardLocation instead, const QString &programFolder = QString());
