// The model reader: a small process of Tuftmill's own that reads one model file (3DS with
// lib3ds, other formats with assimp) with its texture images and hands the model to the
// application through the shared memory file on descriptor 3. Models come from anywhere
// and lib3ds, assimp and the image decoders trust them, so the reading happens here, under
// limits on memory, processor time and result size; whatever goes wrong here cannot take
// the application with it.
//
//   tuftmill-model-reader MODEL MEMORY_MB CPU_SECONDS OUTPUT_MB
#include "ModelExport.h"
#include "ModelTransfer.h"
#include "ReaderFiles.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int ResultFd = 3;
uint64_t addressSpaceLimit = 0;

// lib3ds does not always check what malloc returns: at the memory limit it may crash on
// the null pointer. A crash with the address space nearly used up is reported as what it
// is, running out of memory. Only async-signal-safe calls in here.
void onFault(int signal)
{
    char text[64] = {};
    const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t n = read(fd, text, sizeof text - 1);
        close(fd);
        uint64_t pages = 0;
        for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
            pages = pages * 10 + uint64_t(text[i] - '0');
        if (pages * uint64_t(sysconf(_SC_PAGESIZE)) >= addressSpaceLimit / 10 * 9)
            _exit(ModelTransfer::ExitOutOfMemory);
    }
    ::signal(signal, SIG_DFL);
    raise(signal);
}

void catchFaults()
{
    static char stack[64 * 1024];
    stack_t alternate{};
    alternate.ss_sp = stack;
    alternate.ss_size = sizeof stack;
    sigaltstack(&alternate, nullptr);
    struct sigaction action
    {
    };
    action.sa_handler = onFault;
    action.sa_flags = SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGSEGV, SIGBUS, SIGABRT})
        sigaction(s, &action, nullptr);
}

bool setLimit(int resource, rlim_t soft, rlim_t hard)
{
    const rlimit limit{soft, hard};
    return setrlimit(resource, &limit) == 0;
}

uint64_t parseCount(const char *text)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0')
        return 0;
    return value;
}

// Faults on purpose, for the tests of what the application makes of a reader that
// crashes, hangs, runs out of memory or is slow. Only a build made for the tests has it.
void testFault()
{
#ifdef TUFTMILL_TEST_HOOKS
    const char *fault = std::getenv("TUFTMILL_READER_TEST_FAULT");
    if (!fault || !*fault)
        return;
    const std::string what(fault);
    if (what == "crash")
        std::raise(SIGSEGV);
    if (what == "hang")
        for (;;)
            pause();
    if (what == "spin") {
        std::atomic<unsigned long> turns{0};
        for (;;)
            turns.fetch_add(1, std::memory_order_relaxed);
    }
    if (what == "memory" || what == "memory-crash") {
        // Takes memory until the limit refuses more; then gives up, or uses the null
        // pointer as careless code would.
        std::vector<char *> held;
        for (;;) {
            char *block = static_cast<char *>(std::malloc(16u << 20));
            if (!block && what == "memory")
                std::_Exit(ModelTransfer::ExitOutOfMemory);
            std::memset(block, 1, 16u << 20);
            held.push_back(block);
        }
    }
    if (what.rfind("slow:", 0) == 0)
        usleep(useconds_t(parseCount(what.c_str() + 5) * 1000));
#endif
}

} // namespace

int main(int argc, char **argv)
{
    // The reader dies with the application, whatever happens to it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc != 5)
        return ModelTransfer::ExitUsage;
    const uint64_t memoryMb = parseCount(argv[2]);
    const uint64_t cpuSeconds = parseCount(argv[3]);
    const uint64_t outputMb = parseCount(argv[4]);
    if (memoryMb == 0 || cpuSeconds == 0 || outputMb == 0 || fcntl(ResultFd, F_GETFD) < 0)
        return ModelTransfer::ExitUsage;
    ExportLimits limits;
    limits.memoryBytes = memoryMb << 20;
    limits.outputBytes = outputMb << 20;

    // No core files in the user's directories; processor time, memory and result size
    // bounded. Past the soft processor limit the kernel sends SIGXCPU, one second later
    // SIGKILL.
    setLimit(RLIMIT_CORE, 0, 0);
    if (!setLimit(RLIMIT_CPU, rlim_t(cpuSeconds), rlim_t(cpuSeconds + 1)) ||
        !setLimit(RLIMIT_FSIZE, rlim_t(limits.outputBytes), rlim_t(limits.outputBytes)))
        return ModelTransfer::ExitUsage;
    // Address space counts the program's own code and libraries besides the model.
    addressSpaceLimit = limits.memoryBytes + (64u << 20);
    setLimit(RLIMIT_AS, rlim_t(addressSpaceLimit), rlim_t(addressSpaceLimit));
    catchFaults();

    testFault();

    try {
        // The model file is read whole, at most half the memory limit; not blocking: a
        // named pipe or a device would otherwise hold the reader until its time is up.
        std::vector<unsigned char> bytes;
        std::string problem;
        switch (readerfiles::readWhole(argv[1], limits.memoryBytes / 2, readerfiles::Links::Follow,
                                       bytes, problem)) {
        case readerfiles::Read::TooLarge:
            return writeRefusal(ResultFd, needsMoreThan(limits.memoryBytes));
        case readerfiles::Read::Failed:
            return writeRefusal(ResultFd, problem);
        case readerfiles::Read::Done:
            break;
        }
        return exportModel(argv[1], bytes.data(), bytes.size(), ResultFd, limits);
    } catch (const std::bad_alloc &) {
        return ModelTransfer::ExitOutOfMemory;
    }
}
