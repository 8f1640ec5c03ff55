#include "ModelReaderProcess.h"

#include "ModelTransfer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// The settings live in one function-local object, so that they can be set while other
// static objects are constructed.
struct Settings
{
    QMutex mutex;
    ModelReaderProcess::Limits limits;
    QString readerPath;
};

Settings &settings()
{
    static Settings s;
    return s;
}

// A file descriptor closed on destruction.
class Fd
{
public:
    explicit Fd(int descriptor = -1) : fd(descriptor) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd; }
    void reset(int other = -1)
    {
        if (fd >= 0)
            close(fd);
        fd = other;
    }

private:
    int fd;
};

// The spawn attributes and file actions, released on destruction.
struct SpawnSetup
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;

    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;
};

QString tookLonger(int seconds)
{
    return QStringLiteral("reading took longer than %1 s").arg(seconds);
}

QString needsMore(int megabytes)
{
    return QStringLiteral("the model needs more than %1 MB").arg(megabytes);
}

// What a finished reader's status says, or an empty text when it handed back a result.
QString judge(int status, const rusage &usage, const ModelReaderProcess::Limits &limits)
{
    if (WIFEXITED(status)) {
        switch (WEXITSTATUS(status)) {
        case 0:
            return {};
        case ModelTransfer::ExitOutOfMemory:
            return needsMore(limits.memoryMb);
        default:
            return QStringLiteral("the reader failed (exit status %1)").arg(WEXITSTATUS(status));
        }
    }
    const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    const double cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                              double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (signal == SIGXCPU || (signal == SIGKILL && cpuSeconds >= limits.seconds))
        return tookLonger(limits.seconds);
    if (signal == SIGXFSZ)
        return needsMore(limits.outputMb);
    return QStringLiteral("the reader crashed");
}

} // namespace

ModelReaderProcess::Result::Result(Result &&other) noexcept
    : bytes(std::exchange(other.bytes, nullptr)), length(std::exchange(other.length, 0))
{
}

ModelReaderProcess::Result &ModelReaderProcess::Result::operator=(Result &&other) noexcept
{
    if (this != &other) {
        release();
        bytes = std::exchange(other.bytes, nullptr);
        length = std::exchange(other.length, 0);
    }
    return *this;
}

ModelReaderProcess::Result::~Result()
{
    release();
}

void ModelReaderProcess::Result::release()
{
    if (bytes)
        munmap(const_cast<unsigned char *>(bytes), length);
    bytes = nullptr;
    length = 0;
}

ModelReaderProcess::Limits ModelReaderProcess::limits()
{
    QMutexLocker lock(&settings().mutex);
    return settings().limits;
}

void ModelReaderProcess::setLimitsForTests(const Limits &limits)
{
    QMutexLocker lock(&settings().mutex);
    settings().limits = limits;
}

QString ModelReaderProcess::readerPath()
{
    {
        QMutexLocker lock(&settings().mutex);
        if (!settings().readerPath.isEmpty())
            return settings().readerPath;
    }
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(ReaderName);
}

void ModelReaderProcess::setReaderPath(const QString &path)
{
    QMutexLocker lock(&settings().mutex);
    settings().readerPath = path;
}

ModelReaderProcess::Result ModelReaderProcess::run(const QString &path,
                                                   const std::atomic_bool *cancel, QString &problem)
{
    if (cancel && cancel->load())
        return {};
    const Limits limits = ModelReaderProcess::limits();
    const QString reader = readerPath();
    if (!QFileInfo(reader).isExecutable()) {
        problem = QStringLiteral("the model reader %1 is missing").arg(reader);
        return {};
    }

    // The result file: shared memory that only this process and the reader know of. It
    // starts at a high number so that giving it to the reader as descriptor 3 really
    // copies it (and so clears close-on-exec).
    Fd created(memfd_create("tuftmill-model", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    Fd result(created.get() >= 0 ? fcntl(created.get(), F_DUPFD_CLOEXEC, 10) : -1);
    created.reset();
    if (result.get() < 0) {
        problem = QStringLiteral("no memory could be shared with the model reader: %1")
                      .arg(QString::fromLocal8Bit(strerror(errno)));
        return {};
    }

    const QByteArray program = QFile::encodeName(reader);
    const QByteArray file = QFile::encodeName(path);
    const QByteArray memory = QByteArray::number(limits.memoryMb);
    const QByteArray seconds = QByteArray::number(limits.seconds);
    const QByteArray output = QByteArray::number(limits.outputMb);
    char *const argv[] = {
        const_cast<char *>(program.constData()), const_cast<char *>(file.constData()),
        const_cast<char *>(memory.constData()),  const_cast<char *>(seconds.constData()),
        const_cast<char *>(output.constData()),  nullptr};

    SpawnSetup setup;
    posix_spawn_file_actions_adddup2(&setup.actions, result.get(), 3);
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 4);
    // The reader starts with no signal blocked and every signal at its default, whatever
    // this thread has set up.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, program.constData(), &setup.actions, &setup.attributes, argv, environ);
    if (spawned != 0) {
        problem = QStringLiteral("the model reader could not be started: %1")
                      .arg(QString::fromLocal8Bit(strerror(spawned)));
        return {};
    }

    // Wait for the reader, waking up at its end, at a cancel, or at the time limit.
    Fd exited(int(syscall(SYS_pidfd_open, pid, 0)));
    QElapsedTimer clock;
    clock.start();
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR) {
            problem = QStringLiteral("the model reader was lost");
            return {};
        }
        const bool cancelled = cancel && cancel->load();
        const bool late = clock.elapsed() > qint64(limits.seconds) * 1000;
        if (cancelled || late) {
            kill(pid, SIGKILL);
            while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
            }
            problem = cancelled ? QString() : tookLonger(limits.seconds);
            return {};
        }
        if (exited.get() >= 0) {
            pollfd wake{exited.get(), POLLIN, 0};
            poll(&wake, 1, 20);
        } else {
            usleep(5000);
        }
    }

    problem = judge(status, usage, limits);
    if (!problem.isEmpty())
        return {};

    // Nobody may change the result any more once it is checked.
    struct stat info
    {
    };
    if (fstat(result.get(), &info) != 0 || info.st_size < off_t(sizeof(ModelTransfer::Header)) ||
        quint64(info.st_size) > quint64(limits.outputMb) << 20 ||
        fcntl(result.get(), F_ADD_SEALS,
              F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
        problem = QStringLiteral("the model reader handed back no model");
        return {};
    }
    void *mapped = mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, result.get(), 0);
    if (mapped == MAP_FAILED) {
        problem = QStringLiteral("the model reader's result could not be mapped");
        return {};
    }
    Result r;
    r.bytes = static_cast<const unsigned char *>(mapped);
    r.length = size_t(info.st_size);
    return r;
}
