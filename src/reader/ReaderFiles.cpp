#include "ReaderFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace readerfiles {
namespace {

// Reads the open regular file `fd` whole and closes it.
Read readOpen(int fd, uint64_t maxBytes, std::vector<unsigned char> &bytes, std::string &problem)
{
    struct stat info
    {
    };
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!ok)
        problem = "it is not a regular file";
    else if (uint64_t(info.st_size) > maxBytes) {
        close(fd);
        return Read::TooLarge;
    }
    if (ok) {
        bytes.resize(size_t(info.st_size));
        size_t at = 0;
        while (at < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + at, bytes.size() - at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                problem = n < 0 ? std::strerror(errno) : "the file ended while it was read";
                ok = false;
                break;
            }
            at += size_t(n);
        }
    }
    close(fd);
    return ok ? Read::Done : Read::Failed;
}

// A relative name without a ".." step.
bool lexicallyBelow(const std::string &name)
{
    if (name.empty() || name[0] == '/')
        return false;
    for (size_t start = 0; start <= name.size();) {
        const size_t end = std::min(name.find('/', start), name.size());
        if (name.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace

Read readWhole(const std::string &path, uint64_t maxBytes, Links links,
               std::vector<unsigned char> &bytes, std::string &problem)
{
    const int flags =
        O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        problem = errno == ELOOP ? "it is a link" : std::strerror(errno);
        return Read::Failed;
    }
    return readOpen(fd, maxBytes, bytes, problem);
}

Beneath::Beneath(const std::string &folder)
    : dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC))
{
}

Beneath::~Beneath()
{
    if (dir >= 0)
        close(dir);
}

int Beneath::open(const std::string &name, int flags, Kind &kind) const
{
    if (!lexicallyBelow(name)) {
        kind = name.empty() ? Kind::Missing : Kind::Outside;
        return -1;
    }
    open_how how{};
    // openat2 takes no flags a path descriptor ignores.
    how.flags = uint64_t(flags | O_CLOEXEC | (flags & O_PATH ? 0 : O_NOCTTY));
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    int fd = -1;
    do
        fd = dir < 0 ? -1 : int(syscall(SYS_openat2, dir, name.c_str(), &how, sizeof how));
    while (fd < 0 && errno == EAGAIN);
    if (fd >= 0) {
        kind = Kind::Regular;
        return fd;
    }
    switch (dir < 0 ? ENOENT : errno) {
    case ELOOP:
        kind = Kind::Link;
        break;
    case EXDEV:
        kind = Kind::Outside;
        break;
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
        kind = Kind::Missing;
        break;
    default:
        kind = Kind::Other;
    }
    return -1;
}

Kind Beneath::kindOf(const std::string &name) const
{
    Kind kind = Kind::Missing;
    const int fd = open(name, O_PATH, kind);
    if (fd < 0)
        return kind;
    struct stat info
    {
    };
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    return regular ? Kind::Regular : Kind::Other;
}

Read Beneath::readWhole(const std::string &name, uint64_t maxBytes,
                        std::vector<unsigned char> &bytes, Kind &kind, std::string &problem) const
{
    // Looked at first through a descriptor that cannot read, then opened for reading only
    // when it is a regular file, and only if it is still the same file.
    const int look = open(name, O_PATH, kind);
    if (look < 0) {
        problem = "it cannot be used";
        return Read::Failed;
    }
    struct stat seen
    {
    };
    const bool regular = fstat(look, &seen) == 0 && S_ISREG(seen.st_mode);
    close(look);
    if (!regular) {
        kind = Kind::Other;
        problem = "it is not a regular file";
        return Read::Failed;
    }
    const int fd = open(name, O_RDONLY | O_NONBLOCK, kind);
    struct stat now
    {
    };
    if (fd < 0 || fstat(fd, &now) != 0 || now.st_dev != seen.st_dev || now.st_ino != seen.st_ino) {
        if (fd >= 0)
            close(fd);
        kind = kind == Kind::Regular ? Kind::Other : kind;
        problem = "it changed while it was read";
        return Read::Failed;
    }
    return readOpen(fd, maxBytes, bytes, problem);
}

bool Beneath::list(const std::string &name, size_t maxEntries, std::vector<Entry> &entries) const
{
    Kind kind = Kind::Missing;
    const int fd = open(name, O_RDONLY | O_DIRECTORY, kind);
    if (fd < 0)
        return false;
    DIR *folder = fdopendir(fd);
    if (!folder) {
        close(fd);
        return false;
    }
    size_t seen = 0;
    while (const dirent *entry = readdir(folder)) {
        if (++seen > maxEntries)
            break;
        const std::string n = entry->d_name;
        if (n == "." || n == "..")
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info
            {
            };
            isFolder = fstatat(dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(info.st_mode);
        }
        entries.push_back({n, isFolder});
    }
    closedir(folder);
    return true;
}

std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace readerfiles
