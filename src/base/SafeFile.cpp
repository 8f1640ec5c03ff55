#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace safefile {
namespace {
QString systemError()
{
    return QString::fromLocal8Bit(strerror(errno));
}

// Closes a descriptor on every way out.
struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

Kind kindOfMode(mode_t mode)
{
    if (S_ISLNK(mode))
        return Kind::Link;
    return S_ISREG(mode) ? Kind::Regular : Kind::Special;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        left -= n;
    }
    return true;
}
} // namespace

Kind kindOf(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return Kind::Missing;
    return kindOfMode(st.st_mode);
}

bool exists(const QString &path)
{
    return kindOf(path) != Kind::Missing;
}

QString refusal(const QString &path, Kind kind)
{
    switch (kind) {
    case Kind::Link:
        return QStringLiteral("%1 is a link; Tuftmill leaves it alone").arg(path);
    case Kind::Special:
        return QStringLiteral("%1 is not a regular file; Tuftmill leaves it alone").arg(path);
    default:
        return QString();
    }
}

bool open(const QString &path, qint64 maxBytes, QFile &file, QString &why)
{
    // Never waits on a named pipe or a device: opened without blocking, then checked.
    Descriptor in{::open(QFile::encodeName(path).constData(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (in.fd < 0) {
        why = errno == ELOOP ? refusal(path, Kind::Link)
                             : QStringLiteral("%1: %2").arg(path, systemError());
        return false;
    }
    struct stat st;
    if (::fstat(in.fd, &st) != 0) {
        why = QStringLiteral("%1: %2").arg(path, systemError());
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = refusal(path, Kind::Special);
        return false;
    }
    if (st.st_size > maxBytes) {
        why = QStringLiteral("%1 is larger than Tuftmill reads (%2 bytes, at most %3)")
                  .arg(path)
                  .arg(qint64(st.st_size))
                  .arg(maxBytes);
        return false;
    }
    // Reads block again from here on: a regular file never waits.
    ::fcntl(in.fd, F_SETFL, ::fcntl(in.fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(in.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        why = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    in.fd = -1; // the file closes it now
    return true;
}

bool read(const QString &path, qint64 maxBytes, QByteArray &bytes, QString &why)
{
    bytes.clear();
    QFile file;
    if (!open(path, maxBytes, file, why))
        return false;
    // Never more than the limit, even from a file that grows meanwhile; and never room for
    // the limit either (a read sizes its buffer by what it is asked for), only for the file.
    bytes = file.read(std::min(maxBytes, file.size()));
    if (file.error() != QFileDevice::NoError) {
        why = QStringLiteral("%1: %2").arg(path, file.errorString());
        bytes.clear();
        return false;
    }
    return true;
}

int createTemporaryBeside(const QString &path, QByteArray &temporary)
{
    // A short name of its own, whatever the length of the file's: a name that fits the
    // folder can always be saved. Hidden, so that no listing takes it for a file of ours.
    const QString folder = QFileInfo(path).path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = QFile::encodeName(folder) + "/.tuftmill-" +
                    QByteArray::number(QRandomGenerator::global()->generate() | 0x10000000u, 16) +
                    ".tmp";
        const int fd = ::open(temporary.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool replaceable(const QString &path, QString &why)
{
    const Kind kind = kindOf(path);
    if (kind != Kind::Link && kind != Kind::Special)
        return true;
    why = refusal(path, kind);
    return false;
}

bool write(const QString &path, const QByteArray &bytes, QString &why)
{
    const Kind before = kindOf(path);
    if (before == Kind::Link || before == Kind::Special) {
        why = refusal(path, before);
        return false;
    }
    // The new content goes into a file of its own that nothing else can be: created
    // exclusively, never through a link.
    QByteArray temporary;
    Descriptor out{createTemporaryBeside(path, temporary)};
    if (out.fd < 0) {
        why = QStringLiteral("%1: %2").arg(path, systemError());
        return false;
    }
    // The replacement keeps the permissions of the file it replaces.
    struct stat old;
    if (before == Kind::Regular && ::stat(QFile::encodeName(path).constData(), &old) == 0)
        ::fchmod(out.fd, old.st_mode & 07777);
    const bool complete = writeAll(out.fd, bytes) && ::fsync(out.fd) == 0;
    const QString failure = complete ? QString() : systemError();
    ::close(std::exchange(out.fd, -1));
    if (!complete) {
        ::unlink(temporary.constData());
        why = QStringLiteral("%1: %2").arg(path, failure);
        return false;
    }
    // Checked once more at the last moment; rename(2) itself replaces a link, never what
    // it points at, so even a link made in between leaves its target untouched.
    const Kind now = kindOf(path);
    if (now == Kind::Link || now == Kind::Special) {
        ::unlink(temporary.constData());
        why = refusal(path, now);
        return false;
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        why = QStringLiteral("%1: %2").arg(path, systemError());
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

QStringList undecodableNames(const QString &directory)
{
    QStringList names;
    DIR *dir = ::opendir(QFile::encodeName(directory).constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString shown = decoder.decode(name);
        if (decoder.hasError())
            names.append(shown);
    }
    ::closedir(dir);
    return names;
}

} // namespace safefile
