#pragma once

#include <QString>
#include <atomic>
#include <cstddef>

// Runs the model reader, a process of Tuftmill's own beside the application, on one 3DS
// file and maps what it hands back. The reader runs under limits on memory, processor
// time and result size, and is killed when it takes longer than the time limit or when
// the caller cancels; a reader that crashes, hangs or runs out of memory becomes a
// message, never a fault of the application.
class ModelReaderProcess
{
public:
    struct Limits
    {
        int seconds = 30;    // wall clock and processor time
        int memoryMb = 4096; // what the reader may hold
        int outputMb = 2048; // the largest result
    };

    // The reader's result, mapped read-only; unmapped and closed on destruction. Its
    // content is what another process wrote and must be checked before use.
    class Result
    {
    public:
        Result() = default;
        Result(Result &&other) noexcept;
        Result &operator=(Result &&other) noexcept;
        ~Result();
        Result(const Result &) = delete;
        Result &operator=(const Result &) = delete;

        const unsigned char *data() const { return bytes; }
        size_t size() const { return length; }
        bool valid() const { return bytes != nullptr; }

    private:
        friend class ModelReaderProcess;
        void release();
        const unsigned char *bytes = nullptr;
        size_t length = 0;
    };

    // Reads `path` in the reader. Blocks the calling thread (never the GUI thread) until
    // the reader is done, was killed or `cancel` became true. On failure `problem` says
    // what happened; on cancel it is empty.
    static Result run(const QString &path, const std::atomic_bool *cancel, QString &problem);

    static Limits limits();
    // Test-only: smaller limits, so that a hanging or greedy reader fails fast.
    static void setLimitsForTests(const Limits &limits);

    // Where the reader is: beside the application unless set.
    static QString readerPath();
    static void setReaderPath(const QString &path);
    static constexpr const char *ReaderName = "tuftmill-model-reader";
};
