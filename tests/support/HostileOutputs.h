#pragma once

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

// What may stand under the name an output is to take, and what the one line then says.
// Each writer of pictures and videos leaves all of them alone.
struct HostileOutput
{
    const char *row;
    const char *says;
};

inline const QList<HostileOutput> &hostileOutputs()
{
    static const QList<HostileOutput> rows = {
        {"link to a file", "is a link; Tuftmill leaves it alone"},
        {"dangling link", "is a link; Tuftmill leaves it alone"},
        {"link to a pipe", "is a link; Tuftmill leaves it alone"},
        {"folder", "is not a regular file; Tuftmill leaves it alone"},
        {"pipe", "is not a regular file; Tuftmill leaves it alone"},
        {"full disk", "No space left on device"}};
    return rows;
}

// A folder for outputs holding one hostile thing under `name` (for "full disk": a small
// file system, filled to the last page, that the folder is), earlier files of the user,
// and a folder elsewhere that links point into. `unchanged` tells whether all of it is
// byte for byte, kind for kind, as it was: nothing written through a link, nothing
// replaced, nothing left behind.
class HostileFolder
{
public:
    HostileFolder(const QString &row, const QString &parent, const QString &name,
                  const QMap<QString, QByteArray> &userFiles = {})
        : out(parent + QStringLiteral("/out")), elsewhere(parent + QStringLiteral("/elsewhere"))
    {
        QDir().mkpath(out);
        QDir().mkpath(elsewhere);
        writeBytes(elsewhere + QStringLiteral("/target.png"), "the user's own picture");
        ::mkfifo(QFile::encodeName(elsewhere + QStringLiteral("/pipe")).constData(), 0644);
        const QString at = out + QLatin1Char('/') + name;
        if (row == QLatin1String("full disk")) {
            if (::mount("tmpfs", QFile::encodeName(out).constData(), "tmpfs", 0, "size=64k") != 0) {
                problem = QStringLiteral("a small tmpfs cannot be mounted here (%1)")
                              .arg(QString::fromLocal8Bit(strerror(errno)));
                return;
            }
            mounted = true;
        }
        for (auto it = userFiles.cbegin(); it != userFiles.cend(); ++it)
            writeBytes(out + QLatin1Char('/') + it.key(), it.value());
        if (row == QLatin1String("link to a file"))
            QFile::link(elsewhere + QStringLiteral("/target.png"), at);
        else if (row == QLatin1String("dangling link"))
            QFile::link(elsewhere + QStringLiteral("/made.png"), at);
        else if (row == QLatin1String("link to a pipe"))
            QFile::link(elsewhere + QStringLiteral("/pipe"), at);
        else if (row == QLatin1String("folder"))
            QDir().mkpath(at);
        else if (row == QLatin1String("pipe"))
            ::mkfifo(QFile::encodeName(at).constData(), 0644);
        else if (mounted)
            fill(out + QStringLiteral("/filler"));
        before = state();
    }
    ~HostileFolder()
    {
        if (mounted)
            ::umount2(QFile::encodeName(out).constData(), MNT_DETACH);
    }
    HostileFolder(const HostileFolder &) = delete;
    HostileFolder &operator=(const HostileFolder &) = delete;

    // Empty when the folder could be made, or why not (then the row is skipped).
    QString skipReason() const { return problem; }
    QString folder() const { return out; }
    QString path(const QString &name) const { return out + QLatin1Char('/') + name; }
    // The first difference from how things were, or empty.
    QString changes() const
    {
        const QMap<QString, QByteArray> now = state();
        for (auto it = now.cbegin(); it != now.cend(); ++it)
            if (before.value(it.key()) != it.value())
                return QStringLiteral("%1 is now %2").arg(it.key(), QString::fromLatin1(it.value().left(40)));
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            if (!now.contains(it.key()))
                return QStringLiteral("%1 is gone").arg(it.key());
        return {};
    }

private:
    // Every entry of both folders: its kind, and its bytes or where it links.
    QMap<QString, QByteArray> state() const
    {
        QMap<QString, QByteArray> entries;
        for (const QString &dir : {out, elsewhere})
            for (const QString &name :
                 QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                     QDir::NoDotAndDotDot)) {
                const QString file = dir + QLatin1Char('/') + name;
                struct stat st;
                if (::lstat(QFile::encodeName(file).constData(), &st) != 0)
                    continue;
                QByteArray what;
                if (S_ISLNK(st.st_mode))
                    what = "link to " + QFile::encodeName(QFile::symLinkTarget(file));
                else if (S_ISFIFO(st.st_mode))
                    what = "pipe";
                else if (S_ISDIR(st.st_mode))
                    what = "folder";
                else
                    what = "file " + readBytes(file);
                entries.insert(file, what);
            }
        return entries;
    }
    // Writes to the file system's last page.
    static void fill(const QString &file)
    {
        const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT, 0644);
        const QByteArray page(4096, 'f');
        while (fd >= 0 && ::write(fd, page.constData(), size_t(page.size())) > 0) {
        }
        if (fd >= 0)
            ::close(fd);
    }

    QString out, elsewhere, problem;
    bool mounted = false;
    QMap<QString, QByteArray> before;
};

} // namespace testsupport
