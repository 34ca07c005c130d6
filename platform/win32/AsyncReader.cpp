#include "AsyncReader.h"

#include <libaio.h>
#include <liburing.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>

namespace {

std::atomic<AsyncBackend> preferredBackend{AsyncBackend::IoUring};
std::atomic<AsyncReaderWrapper> readerWrapper{nullptr};

constexpr ULONG_PTR StatusSuccess = 0;
constexpr ULONG_PTR StatusEndOfFile = 0xC0000011;

// Failed reads keep the Windows status of the failure, so that GetOverlappedResult can name
// its error; an errno not listed counts as a device error (the last row).
struct Failure {
    int errnoValue;
    ULONG_PTR status;
    DWORD error;
};
constexpr Failure Failures[] = {
    {EINVAL, 0xC000000D, ERROR_INVALID_PARAMETER},
    {EBADF, 0xC0000008, ERROR_INVALID_HANDLE},
    {ENOMEM, 0xC0000017, ERROR_NOT_ENOUGH_MEMORY},
    {ECANCELED, 0xC0000120, ERROR_OPERATION_ABORTED},
    {EIO, 0xC0000185, ERROR_IO_DEVICE},
};

// Submits one read (submit returns how many were taken, or a negated errno), retrying when
// interrupted; a refused submission is recorded as the read's failure.
template <class Submit>
bool SubmitOne(OVERLAPPED* request, unsigned* inFlight, Submit submit)
{
    request->Internal = STATUS_PENDING;
    int submitted;
    do
        submitted = submit();
    while (submitted == -EINTR);
    if (submitted != 1) {
        RecordCompletion(request, submitted < 0 ? submitted : -EIO);
        return false;
    }
    ++*inFlight;
    return true;
}

class UringReader final : public AsyncReader {
public:
    explicit UringReader(int fd) : m_Fd(fd), m_Open(io_uring_queue_init(Depth, &m_Ring, 0) == 0) {}

    bool Accepted() const { return m_Open; }

    ~UringReader() override
    {
        if (!m_Open)
            return;
        while (m_InFlight)
            Wait(INFINITE);
        io_uring_queue_exit(&m_Ring);
    }

    AsyncBackend Backend() const override { return AsyncBackend::IoUring; }

    bool Start(OVERLAPPED* request, void* buffer, DWORD count, uint64_t offset) override
    {
        if (m_InFlight == Depth)
            Wait(INFINITE);
        io_uring_sqe* sqe = io_uring_get_sqe(&m_Ring);
        io_uring_prep_read(sqe, m_Fd, buffer, count, offset);
        io_uring_sqe_set_data(sqe, request);
        return SubmitOne(request, &m_InFlight, [&] { return io_uring_submit(&m_Ring); });
    }

    void Poll() override
    {
        io_uring_cqe* cqe;
        while (io_uring_peek_cqe(&m_Ring, &cqe) == 0)
            Finish(cqe);
    }

    void Wait(DWORD milliseconds) override
    {
        if (!m_InFlight)
            return;
        io_uring_cqe* cqe;
        __kernel_timespec limit = {milliseconds / 1000, (long long)(milliseconds % 1000) * 1000000};
        int result;
        do
            result = milliseconds == INFINITE ? io_uring_wait_cqe(&m_Ring, &cqe)
                                              : io_uring_wait_cqe_timeout(&m_Ring, &cqe, &limit);
        while (result == -EINTR);
        if (result == 0)
            Finish(cqe);
        Poll();
    }

private:
    void Finish(io_uring_cqe* cqe)
    {
        RecordCompletion(static_cast<OVERLAPPED*>(io_uring_cqe_get_data(cqe)), cqe->res);
        io_uring_cqe_seen(&m_Ring, cqe);
        --m_InFlight;
    }

    int m_Fd;
    io_uring m_Ring;  // filled by io_uring_queue_init in m_Open's initialiser
    bool m_Open;
    unsigned m_InFlight = 0;
};

class AioReader final : public AsyncReader {
public:
    explicit AioReader(int fd) : m_Fd(fd), m_Open(io_setup(Depth, &m_Context) == 0) {}

    bool Accepted() const { return m_Open; }

    ~AioReader() override
    {
        if (!m_Open)
            return;
        while (m_InFlight)
            Wait(INFINITE);
        io_destroy(m_Context);
    }

    AsyncBackend Backend() const override { return AsyncBackend::LinuxAio; }

    bool Start(OVERLAPPED* request, void* buffer, DWORD count, uint64_t offset) override
    {
        if (m_InFlight == Depth)
            Wait(INFINITE);
        // The kernel copies the control block at submission; the event brings back `data`.
        iocb block;
        io_prep_pread(&block, m_Fd, buffer, count, (long long)offset);
        block.data = request;
        iocb* blocks[] = {&block};
        return SubmitOne(request, &m_InFlight, [&] { return io_submit(m_Context, 1, blocks); });
    }

    void Poll() override
    {
        timespec now{};
        Collect(0, &now);
    }

    void Wait(DWORD milliseconds) override
    {
        timespec limit = {milliseconds / 1000, (long)(milliseconds % 1000) * 1000000};
        if (m_InFlight)
            Collect(1, milliseconds == INFINITE ? nullptr : &limit);
    }

private:
    void Collect(long least, timespec* timeout)
    {
        io_event events[Depth];
        int count;
        do
            count = io_getevents(m_Context, least, Depth, events, timeout);
        while (count == -EINTR);
        for (int i = 0; i < count; ++i) {
            RecordCompletion(static_cast<OVERLAPPED*>(events[i].data), (long)events[i].res);
            --m_InFlight;
        }
    }

    int m_Fd;
    io_context_t m_Context = nullptr;  // io_setup wants it zero
    bool m_Open;
    unsigned m_InFlight = 0;
};

// Every read completes inside Start.
class PreadReader final : public AsyncReader {
public:
    explicit PreadReader(int fd) : m_Fd(fd) {}

    AsyncBackend Backend() const override { return AsyncBackend::Pread; }

    bool Start(OVERLAPPED* request, void* buffer, DWORD count, uint64_t offset) override
    {
        DWORD done = 0;
        while (done < count) {
            ssize_t got = pread(m_Fd, static_cast<char*>(buffer) + done, count - done, (off_t)(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && done == 0) {
                RecordCompletion(request, -errno);
                return false;
            }
            if (got <= 0)
                break;
            done += (DWORD)got;
        }
        RecordCompletion(request, done);
        return false;
    }

    void Poll() override {}
    void Wait(DWORD) override {}

private:
    int m_Fd;
};

// The back-end, when the system accepts it.
template <class Reader>
std::unique_ptr<AsyncReader> OpenIfAccepted(int fd)
{
    auto reader = std::make_unique<Reader>(fd);
    if (!reader->Accepted())
        return nullptr;
    return reader;
}

}  // namespace

void RecordCompletion(OVERLAPPED* request, long result)
{
    if (result >= 0) {
        request->Internal = result ? StatusSuccess : StatusEndOfFile;
        request->InternalHigh = (ULONG_PTR)result;
        return;
    }
    const Failure* failure = &Failures[std::size(Failures) - 1];
    for (const Failure& candidate : Failures)
        if (candidate.errnoValue == -result)
            failure = &candidate;
    request->Internal = failure->status;
    request->InternalHigh = 0;
}

void SetAsyncBackend(AsyncBackend first) { preferredBackend = first; }

AsyncBackend GetAsyncBackend() { return preferredBackend; }

void SetAsyncReaderWrapper(AsyncReaderWrapper wrapper) { readerWrapper = wrapper; }

std::unique_ptr<AsyncReader> AsyncReader::Create(int fd, AsyncBackend first)
{
    if (first == AsyncBackend::IoUring)
        if (auto reader = OpenIfAccepted<UringReader>(fd))
            return reader;
    if (first != AsyncBackend::Pread)
        if (auto reader = OpenIfAccepted<AioReader>(fd))
            return reader;
    return std::make_unique<PreadReader>(fd);
}

std::unique_ptr<AsyncReader> AsyncReader::ForFile(int fd)
{
    std::unique_ptr<AsyncReader> backend = Create(fd, preferredBackend);
    AsyncReaderWrapper wrapper = readerWrapper;
    return wrapper ? wrapper(fd, std::move(backend)) : std::move(backend);
}

DWORD CompletionError(const OVERLAPPED* request)
{
    if (request->Internal == StatusSuccess)
        return ERROR_SUCCESS;
    if (request->Internal == STATUS_PENDING)
        return ERROR_IO_INCOMPLETE;
    if (request->Internal == StatusEndOfFile)
        return ERROR_HANDLE_EOF;
    for (const Failure& failure : Failures)
        if (failure.status == request->Internal)
            return failure.error;
    return ERROR_IO_DEVICE;
}
