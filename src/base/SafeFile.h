#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QFile;

// Reading and writing the files of the workspace (graftals/, scenes/) without ever
// following a symbolic link or blocking on a special file. Packs and scene files come from
// other people: a link in them must not make a save write somewhere else, and a named pipe
// or a device must not freeze the program.
//
// Every check is made on the path as it is at the moment of use (lstat, O_NOFOLLOW, fstat
// of the open file). A directory on the way that is a link is followed: people share
// folders that way.
namespace safefile {

enum class Kind
{
    Missing,
    Regular,
    Link,   // a symbolic link, dangling or not
    Special // a directory, a named pipe, a device or a socket
};

// What `path` is itself, without following a link at its end.
Kind kindOf(const QString &path);
// Whether something (even a dangling link) stands at `path`.
bool exists(const QString &path);

// The sentence a refused file gets, the same in the log and on screen: "graftals/a.png
// is a link; Tuftmill leaves it alone".
QString refusal(const QString &path, Kind kind);

// Reads a regular file whole, of at most `maxBytes`. A link, a special file, a larger file
// or a failed read give false and the reason.
bool read(const QString &path, qint64 maxBytes, QByteArray &bytes, QString &why);

// Opens a regular file for reading, never through a link and never waiting on a special
// file; false and the reason otherwise, or when it is larger than `maxBytes`.
bool open(const QString &path, qint64 maxBytes, QFile &file, QString &why);

// Replaces `path` by `bytes` whole or not at all: a new file beside it (a short name, so
// that any name that fits the folder saves), created never through a link, written and
// synced, then renamed over it. A link or a special file at
// `path` is left alone and the write fails with the reason.
bool write(const QString &path, const QByteArray &bytes, QString &why);

// Whether `path` may be replaced: nothing or a regular file stands there; false with the
// refusal for a link (dangling or not), a folder, a named pipe, a device or a socket.
bool replaceable(const QString &path, QString &why);

// Creates a new empty file beside `path` under a short hidden name of its own, exclusively
// and never through a link; its descriptor, or -1 with errno set. The name goes to
// `temporary`.
int createTemporaryBeside(const QString &path, QByteArray &temporary);

// The names in `directory` that are not valid UTF-8, as far as they can be shown. Such
// files cannot be named again through Qt, which does not list them at all.
QStringList undecodableNames(const QString &directory);

} // namespace safefile
