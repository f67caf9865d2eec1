#pragma once
// What the internet update frame makes of the update server's answers and names, kept apart
// from the widgets so that it can be checked on its own: list lines, file groups and
// captions, request addresses, and whether a server's file name may become a local path.
#include <QByteArray>
#include <QString>
#include <QStringList>

// The groups of the file list: firmware images, programs, everything else.
enum TUpdateFileGroup { ufgFirmware = 0, ufgProgram = 1, ufgOther = 2 };

// A list answer as rows: CR LF, LF and a lone CR each end a line; a blank line is an empty
// row; a line break at the very end ends the last line and adds no row. The bytes are
// taken as UTF-8.
QStringList SplitListLines(const QByteArray &answer);
// The number of rows SplitListLines makes of Answer, counted without making them.
qsizetype CountListLines(const QByteArray &answer);

// Everything from the last "." on ("" when the name has none); no letter case is changed.
QString FileExtension(const QString &fileName);
// ".frm" and ".firmware" are firmware, ".exe" a program, all else other (exact comparison).
TUpdateFileGroup FileGroupOf(const QString &fileName);
// The caption of a file row: a firmware image shows its display name (the name without its
// extension, cut before its first ";"), every other file its whole name.
QString FileCaption(const QString &fileName);
// A download that is written into the tester (a firmware image) or stored and started (a
// program) is used only when the server stated its length: a cut one must not pass as whole.
bool NeedsStatedLength(const QString &fileName);

// Address + a backslash unless it already ends in one.
QString EnsureTrailingSeparator(const QString &address);
// The address as it is sent: every backslash becomes "/", and in the part after the host
// every character that may not stand in a URL path is percent-escaped (UTF-8 bytes).
QByteArray EncodeUpdateAddress(const QString &address);

// Why FileName (as the server lists it) may not be used as the name of a local file in a
// chosen folder: a path separator, a "..", a drive letter, an absolute path, a control
// character, a name of dots only, or no name at all. Empty when it may.
QString LocalFileNameProblem(const QString &fileName);
// Folder + "/" + FileName, or, while a file of that name exists, the first free
// "<name>(n)<extension>" for n = 1, 2, 3, ...
QString FreeNumberedPath(const QString &folder, const QString &fileName);

// A downloaded text file as it is shown: UTF-8 when the bytes are valid UTF-8 (a byte order
// mark dropped), otherwise the Cyrillic 8-bit code page windows-1251, in which older release
// notes were written.
QString DecodeReleaseNote(const QByteArray &bytes);
// The start of a release note as it is shown: at most MaxBytes of it, cut back to the start
// of a character when the note is UTF-8, decoded as DecodeReleaseNote decodes the whole.
QString ReleaseNotePreview(const QByteArray &bytes, qsizetype maxBytes);
