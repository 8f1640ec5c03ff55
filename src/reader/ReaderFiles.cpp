#include "ReaderFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace readerfiles {

Read readWhole(const std::string &path, uint64_t maxBytes, Links links,
               std::vector<unsigned char> &bytes, std::string &problem)
{
    const int flags =
        O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = open(path.c_str(), flags);
    if (fd < 0) {
        problem = errno == ELOOP ? "it is a link" : std::strerror(errno);
        return Read::Failed;
    }
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

Kind kindOf(const std::string &path)
{
    struct stat info
    {
    };
    if (lstat(path.c_str(), &info) != 0)
        return Kind::Missing;
    if (S_ISLNK(info.st_mode))
        return Kind::Link;
    return S_ISREG(info.st_mode) ? Kind::Regular : Kind::Other;
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
