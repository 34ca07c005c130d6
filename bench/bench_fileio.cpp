// FileIOWrapper direct reads: sequential throughput against dd on the same file, and how much
// of a read an asynchronous direct read hides behind the caller's work.
// Usage: bench_fileio [io_uring|libaio|pread]   (the asynchronous back-end tried first)

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchData.h"
#include "core/FileIOWrapper.h"
#include "platform/win32/AsyncReader.h"
#include "platform/win32/Memory.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned long long FileSize = 1ull << 30;
constexpr unsigned long Chunk = 4ul << 20;
constexpr size_t ChunkBuffer = Chunk + 4096;  // a direct read is one sector longer than its count
constexpr int Rounds = 5;
constexpr int OverlapReads = 32;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

struct PageRelease {
    void operator()(unsigned char* pages) const { VirtualFree(pages, 0, MEM_RELEASE); }
};
using Pages = std::unique_ptr<unsigned char, PageRelease>;

Pages AllocatePages(size_t size)
{
    return Pages(static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)));
}

// build/bench-data/, beside the directory that holds this executable.
std::filesystem::path DataFile()
{
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bench-data";
    std::filesystem::create_directories(dir);
    return dir / "fileio-1GiB.bin";
}

// Random bytes, so that no layer below can shortcut the reads; made once and kept.
void EnsureDataFile(const std::filesystem::path& path)
{
    std::error_code error;
    if (std::filesystem::file_size(path, error) == FileSize)
        return;
    std::printf("creating %s\n", path.c_str());
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror("open");
        std::exit(1);
    }
    std::vector<unsigned long long> block(Chunk / sizeof(unsigned long long));
    std::mt19937_64 random(1);
    for (unsigned long long written = 0; written < FileSize; written += Chunk) {
        for (unsigned long long& word : block)
            word = random();
        if (write(fd, block.data(), Chunk) != (ssize_t)Chunk) {
            std::perror("write");
            std::exit(1);
        }
    }
    fsync(fd);
    close(fd);
}

void* Open(const std::filesystem::path& path)
{
    void* handle = OpenReadSeq(path.c_str());
    if (handle == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::exit(1);
    }
    return handle;
}

// The same chunks in 4 MiB direct reads, each started asynchronously, spread over `readers`
// readers (each has one read in flight at most) with two buffers per reader.
double MyReadRate(const std::filesystem::path& path, int readers, unsigned long long first, unsigned long long chunks)
{
    std::vector<void*> handles;
    std::vector<Pages> buffers;
    for (int i = 0; i < readers; ++i) {
        handles.push_back(Open(path));
        buffers.push_back(AllocatePages(ChunkBuffer));
        buffers.push_back(AllocatePages(ChunkBuffer));
    }
    unsigned int skip;
    unsigned char tail[1];
    auto start = Clock::now();
    for (unsigned long long i = 0; i < chunks; ++i) {
        void* handle = handles[i % readers];
        mySeek64(handle, (long long)((first + i) * Chunk), FILE_BEGIN);
        myRead(handle, buffers[i % buffers.size()].get(), Chunk, &skip, true);
    }
    for (void* handle : handles)
        myRead(handle, tail, 0, nullptr, false);  // waits for the last read
    double seconds = Seconds(Clock::now() - start);
    for (void* handle : handles)
        myClose(handle);
    return (double)(chunks * Chunk) / seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The disk's speed drifts, so the three are measured side by side in rounds over alternate
// halves of the file, in alternating order, and each column's median is shown.
void Throughput(const std::filesystem::path& path)
{
    constexpr unsigned long long Half = FileSize / Chunk / 2;
    std::vector<double> dd, one, two, oneRatio, twoRatio;
    for (int round = 0; round < Rounds; ++round) {
        unsigned long long first = round % 2 * Half;
        double rates[3];
        for (int step = 0; step < 3; ++step) {
            int which = round % 2 ? 2 - step : step;
            rates[which] = which == 0 ? bench::ddDirectRate(path, "skip=" + std::to_string(first) + " count=" + std::to_string(Half)) : MyReadRate(path, which, first, Half);
        }
        dd.push_back(rates[0]);
        one.push_back(rates[1]);
        two.push_back(rates[2]);
        oneRatio.push_back(rates[1] / rates[0]);
        twoRatio.push_back(rates[2] / rates[0]);
    }
    std::printf("throughput: 4 MiB direct reads, %d rounds of 512 MiB, medians\n", Rounds);
    std::printf("  %-36s %9s %9s\n", "", "MB/s", "ratio");
    std::printf("  %-36s %9.0f %9.2f\n", "dd bs=4M iflag=direct", Median(dd) / 1e6, 1.0);
    std::printf("  %-36s %9.0f %9.2f\n", "myRead, 1 reader, 2 buffers", Median(one) / 1e6, Median(oneRatio));
    std::printf("  %-36s %9.0f %9.2f\n", "myRead, 2 readers, 2 buffers each", Median(two) / 1e6, Median(twoRatio));
}

volatile unsigned long long workResult;  // keeps the work from being optimised away

// The caller's work on a buffer: checksums it over and over until `duration` has passed.
void Work(const unsigned char* data, Clock::duration duration)
{
    auto end = Clock::now() + duration;
    unsigned long long sum = 0;
    do
        for (size_t i = 0; i < Chunk; i += 4096)
            sum += data[i];
    while (Clock::now() < end);
    workResult = sum;
}

// Reads, each followed by work as long as an average synchronous read: first one after the
// other, then with each read started before the work on the previous chunk.
void Overlap(const std::filesystem::path& path)
{
    void* handle = Open(path);
    Pages buffers[2] = {AllocatePages(ChunkBuffer), AllocatePages(ChunkBuffer)};
    unsigned int skip;
    unsigned char tail[1];

    auto start = Clock::now();
    for (int i = 0; i < OverlapReads; ++i)
        myRead(handle, buffers[0].get(), Chunk, &skip, false);
    Clock::duration work = (Clock::now() - start) / OverlapReads;

    std::vector<double> serial, overlapped, hidden;
    for (int round = 0; round < Rounds; ++round) {
        mySeek64(handle, 0, FILE_BEGIN);
        Clock::duration reading{};
        start = Clock::now();
        for (int i = 0; i < OverlapReads; ++i) {
            auto read = Clock::now();
            myRead(handle, buffers[0].get(), Chunk, &skip, false);
            reading += Clock::now() - read;
            Work(buffers[0].get(), work);
        }
        serial.push_back(Seconds(Clock::now() - start));

        mySeek64(handle, 0, FILE_BEGIN);
        start = Clock::now();
        myRead(handle, buffers[0].get(), Chunk, &skip, true);
        for (int i = 1; i <= OverlapReads; ++i) {
            if (i < OverlapReads)
                myRead(handle, buffers[i % 2].get(), Chunk, &skip, true);
            else
                myRead(handle, tail, 0, nullptr, false);
            Work(buffers[(i - 1) % 2].get(), work);
        }
        overlapped.push_back(Seconds(Clock::now() - start));
        // What overlapping can save at most is the shorter of the reading and the work.
        double hideable = std::min(Seconds(reading), Seconds(work) * OverlapReads);
        hidden.push_back((serial.back() - overlapped.back()) / hideable);
    }
    myClose(handle);

    std::printf("\noverlap: %d direct reads of 4 MiB, each with %.2f ms of work (an average read), medians of %d\n",
                OverlapReads, Seconds(work) * 1000, Rounds);
    std::printf("  %-36s %9.1f ms\n", "read, then work", Median(serial) * 1000);
    std::printf("  %-36s %9.1f ms\n", "read started before the work", Median(overlapped) * 1000);
    std::printf("  %-36s %9.2f\n", "overlap fraction", Median(hidden));
    std::printf("  (time saved / the shorter of reading and work; above 1 when the synchronous reads\n"
                "   also lost time to the 1 ms completion polling, which a read started early avoids)\n");
}

}  // namespace

int main(int argc, char** argv)
{
    const char* names[] = {"io_uring", "libaio", "pread"};
    for (int i = 0; argc > 1 && i < 3; ++i)
        if (std::strcmp(argv[1], names[i]) == 0)
            SetAsyncBackend((AsyncBackend)i);
    std::filesystem::path path = DataFile();
    EnsureDataFile(path);

    std::printf("bench_fileio: back-end tried first: %s\n", names[(int)GetAsyncBackend()]);
    Throughput(path);
    Overlap(path);
    return 0;
}
