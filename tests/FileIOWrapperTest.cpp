// The unbuffered file reader over each asynchronous back-end, on this machine's disk and on a
// stand-in device with 4096-byte sectors, and the Win32 file calls under it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "FourKilobyteDevice.h"
#include "TestSupport.h"
#include "core/FileIOWrapper.h"
#include "core/PageBlock.h"
#include "platform/win32/AsyncReader.h"
#include "platform/win32/File.h"
#include "platform/win32/Memory.h"
#include "platform/win32/PageCache.h"

void PrintTo(AsyncBackend backend, std::ostream* out)
{
    static const char* const names[] = {"IoUring", "LinuxAio", "Pread"};
    *out << names[int(backend)];
}

namespace {

constexpr size_t FileSize = (8u << 20) + 1234;  // a partial last sector
constexpr unsigned long Big = 8u << 20;

// A file of random bytes, made once in a directory of its own.
struct TestFile {
    TestFile()
    {
        std::mt19937 random(20240611);
        std::generate(data.begin(), data.end(), [&] { return (uint8_t)random(); });
        path = dir.write("random.bin", data);
    }
    ScratchDir dir;
    Bytes data = Bytes(FileSize);
    std::string path;
};

const TestFile& File()
{
    static TestFile file;
    return file;
}

bool SameAsFile(const unsigned char* bytes, size_t offset, size_t count)
{
    return memcmp(bytes, &File().data[offset], count) == 0;
}

using Pages = std::unique_ptr<unsigned char, void (*)(unsigned char*)>;
Pages AllocatePages(size_t size)
{
    return Pages((unsigned char*)VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE),
                 [](unsigned char* pages) { VirtualFree(pages, 0, MEM_RELEASE); });
}

// Reads count bytes at start, in direct mode (into page memory with the slack callers give) or
// copy mode, and checks the result, the bytes, the offset into the first sector of the file's
// sector size, that nothing is copied past count, and the position after.
testing::AssertionResult ReadMatches(void* handle, unsigned sector, size_t start, unsigned long count, bool direct,
                                     bool async = false)
{
    const int inside = int(start >= FileSize ? 0 : std::min(count, FileSize - start));
    Pages pages = AllocatePages(count + 2 * FileIOWrapper::SectorSize);
    std::vector<unsigned char> copy(count + 1, 0xAA);
    unsigned int skip = 9999;
    mySeek64(handle, (long long)start, FILE_BEGIN);
    const int got = direct ? myRead(handle, pages.get(), count, &skip, false)
                           : myRead(handle, copy.data(), count, nullptr, async);
    const bool same = SameAsFile(direct ? pages.get() + skip : copy.data(), start, inside);
    const long long position = myTell64(handle);
    const bool kept = direct ? skip == start % sector : copy[count] == 0xAA;
    return testing::AssertionResult(got == inside && same && kept && position == (long long)(start + count))
           << "read " << got << " of " << inside << " bytes, " << (same ? "" : "not ") << "the file's, skip " << skip
           << ", after them " << int(copy[count]) << ", position " << position;
}

void ExpectReadsMatch(void* handle, unsigned sector)
{
    // From 511 on, 3584 bytes still fit the 4096-byte bounce buffer with the 512-byte sector before
    // them; 3585 do not. Reads across and past the end give the bytes that exist.
    for (auto [start, count, direct] :
         {std::tuple{5ul, 8ul, false}, {511, 3584, false}, {511, 3585, false}, {13, 0, false}, {1024, 3585, true},
          {700, 3585, true}, {511, 3585, true}, {4095, 4097, true}, {FileSize - 150, 100, false},
          {FileSize - 50, 100, false}, {FileSize, 100, false}, {FileSize + 500, 100, true}, {FileSize - 50, 100, true}})
        EXPECT_TRUE(ReadMatches(handle, sector, start, count, direct))
            << start << " + " << count << (direct ? " direct" : "");
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        const size_t start = random() % (FileSize + 2048);
        const unsigned long count = random() % (i % 4 ? 512 << 10 : 4096);
        // Copy mode reads wait whether or not they were asked to run on.
        ASSERT_TRUE(ReadMatches(handle, sector, start, count, i % 2, i % 3 == 0))
            << start << " + " << count << ", " << i % 2;
    }
}

// Drops the file's pages from the page cache, then brings back those of [offset, offset + count).
void CacheOnly(const std::string& path, size_t offset, size_t count)
{
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    // No read-ahead past the bytes asked for.
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    std::vector<char> bytes(count);
    EXPECT_EQ(ssize_t(count), pread(fd, bytes.data(), count, off_t(offset)));
    close(fd);
}

// Every check runs once per asynchronous back-end that the system accepts.
class FileIOBackend : public testing::TestWithParam<AsyncBackend> {
protected:
    void SetUp() override
    {
        int fd = open(File().path.c_str(), O_RDONLY | O_DIRECT);
        ASSERT_GE(fd, 0);
        const AsyncBackend backend = AsyncReader::Create(fd, GetParam())->Backend();
        close(fd);
        ASSERT_TRUE(backend == GetParam() || GetParam() != AsyncBackend::Pread) << "pread is always there";
        if (backend != GetParam())
            GTEST_SKIP() << "this system refuses the back-end";
        SetAsyncBackend(GetParam());
        // The back-end reads what the page cache does not serve.
        IgnorePageCache(true);
        Reopen();
    }
    void Reopen()
    {
        if (handle != INVALID_HANDLE_VALUE)
            myClose(handle);
        handle = OpenReadSeq(File().path.c_str());
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    }
    void TearDown() override
    {
        SetAsyncBackend(AsyncBackend::IoUring);
        IgnorePageCache(false);
        EXPECT_EQ(handle == INVALID_HANDLE_VALUE ? 0 : myClose(handle), 0);
    }

    void* handle = INVALID_HANDLE_VALUE;
};

TEST_P(FileIOBackend, ReadsMatchTheFile)
{
    // On this machine's disk, then on 4096-byte sectors: reads keep to the sector size found for
    // the device; beyond a page the file is read through the page cache, on the 512-byte grid.
    ExpectReadsMatch(handle, 512);
    IgnorePageCache(false);
    CacheOnly(File().path, 0, FileSize);
    Reopen();
    ExpectReadsMatch(handle, 512);
    for (auto [detected, sector] : {std::pair{4096u, 4096u}, {8192u, 512u}}) {
        OnFourKilobyteDevice device(detected);
        Reopen();
        ExpectReadsMatch(handle, sector);
    }
}

TEST_P(FileIOBackend, ReadsTheDeviceRefusesFail)
{
    // 512 is found for the 4096-byte device: its refusals are failures, never zeros or stale bytes.
    OnFourKilobyteDevice device(512);
    Reopen();
    Pages pages = AllocatePages(Big + 2 * FileIOWrapper::SectorSize);
    std::vector<unsigned char> copy(3584, 0xAA);
    unsigned int skip;
    mySeek64(handle, 517, FILE_BEGIN);
    EXPECT_TRUE(myRead(handle, copy.data(), 100, nullptr, false) == -1 &&
                std::count(copy.begin(), copy.end(), 0xAA) == 3584);
    EXPECT_TRUE(myRead(handle, pages.get(), 100, &skip, false) == -1 && PageBlock::Read(handle, 100).size() == 0);
    // An asynchronous read fails when it completes (pread's at once). A read after it waits for
    // it and goes on with its own: 3584 bytes at 0 are one 4096-byte read, which the device takes.
    for (bool readAfter : {false, true}) {
        mySeek64(handle, 512, FILE_BEGIN);
        EXPECT_EQ(myRead(handle, pages.get(), Big, &skip, true), GetParam() == AsyncBackend::Pread ? -1 : (int)Big);
        if (readAfter) {
            mySeek64(handle, 0, FILE_BEGIN);
            EXPECT_TRUE(myRead(handle, copy.data(), 3584, nullptr, false) == 3584 && SameAsFile(copy.data(), 0, 3584));
        }
        EXPECT_EQ(myFinishRead(handle), readAfter ? 0 : -1);
    }
}

TEST_P(FileIOBackend, NextReadWaitsForAnAsynchronousOne)
{
    Pages first = AllocatePages(Big + 4096);
    std::vector<unsigned char> second(Big);
    MessageLog log;
    // pread finishes every read inside the call; the others are still reading 8 MiB when the next
    // read comes, and say so (tried a few times: this thread may be held up between the calls).
    bool stalled = false;
    for (int attempt = 0; attempt < 10 && !stalled; attempt++) {
        unsigned int skip;
        mySeek64(handle, 3, FILE_BEGIN);
        EXPECT_EQ(myRead(handle, first.get(), Big, &skip, true), (int)Big);
        EXPECT_TRUE(myRead(handle, second.data(), 100, nullptr, false) == 100 && skip == 3);
        EXPECT_TRUE(SameAsFile(first.get() + 3, 3, Big) && SameAsFile(second.data(), 3 + Big, 100));
        EXPECT_EQ(log.lines, std::vector<std::string>(log.lines.size(), "FileIOWrapper::myRead Stall\n"));
        stalled = !log.lines.empty();
    }
    EXPECT_EQ(stalled, GetParam() != AsyncBackend::Pread);
    // A synchronous read waits silently.
    log.lines.clear();
    mySeek64(handle, 100, FILE_BEGIN);
    EXPECT_TRUE(myRead(handle, second.data(), Big, nullptr, false) == (int)Big && SameAsFile(second.data(), 100, Big) &&
                log.lines.empty());
}

TEST_P(FileIOBackend, Win32ReadRules)
{
    auto open = [](const std::string& name) {
        const DWORD flags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_OVERLAPPED;
        return CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    };
    EXPECT_TRUE(open(File().dir.path("missing")) == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND);
    HANDLE file = open(File().path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Pages buffer = AllocatePages(Big);
    OVERLAPPED request{};
    DWORD transferred = 0;
    auto read = [&](unsigned char* into, DWORD count, DWORD offset) {
        request.Offset = offset;
        return ReadFile(file, into, count, nullptr, &request) ||
               (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(file, &request, &transferred, TRUE));
    };
    // Unbuffered reads refuse offsets, lengths and buffers off the sector grid.
    unsigned char* const at = buffer.get();
    for (auto [into, count, offset] : {std::tuple{at, 512u, 1u}, {at, 100u, 0u}, {at + 8, 512u, 0u}})
        EXPECT_TRUE(!read(into, count, offset) && GetLastError() == ERROR_INVALID_PARAMETER) << count << " " << offset;
    // Across the end the bytes that exist arrive; wholly past it is the end of the file.
    const DWORD from = FileSize / 512 * 512 - 4096;
    ASSERT_TRUE(read(buffer.get(), 8192, from));
    EXPECT_TRUE(request.InternalHigh == FileSize - from && SameAsFile(buffer.get(), from, FileSize - from));
    EXPECT_TRUE(!read(buffer.get(), 512, from + 4608) && GetLastError() == ERROR_HANDLE_EOF);
    // CloseHandle lets a read in flight finish, and records it.
    request.Offset = 0;
    EXPECT_TRUE(ReadFile(file, buffer.get(), Big, nullptr, &request) || GetLastError() == ERROR_IO_PENDING);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_TRUE(request.Internal == 0 && request.InternalHigh == Big && SameAsFile(buffer.get(), 0, Big));
}

INSTANTIATE_TEST_SUITE_P(FileIO, FileIOBackend,
                         testing::Values(AsyncBackend::IoUring, AsyncBackend::LinuxAio, AsyncBackend::Pread),
                         [](const auto& info) { return testing::PrintToString(info.param); });

// An unbuffered read is served by the page cache when it holds every page of it, copied when the
// read is first waited for (so that a read cancelled before costs nothing); else the device reads
// it all, and brings nothing into the cache.
TEST(FileIOWrapper, ReadsThePageCacheHoldsWhole)
{
    const std::string& path = File().path;
    Pages pages = AllocatePages(Big);
    const DWORD count = Big - 8192;
    for (auto [cachedFrom, cachedBytes, fromCache] : {std::tuple{0ul, FileSize, true}, {0ul, 0ul, false}, {0ul, Big / 2, false},
                                                      {Big / 2, Big / 2, false}, {4096ul, Big - 8192, true}}) {
        SCOPED_TRACE(std::to_string(cachedBytes) + " bytes cached from " + std::to_string(cachedFrom));
        CacheOnly(path, cachedFrom, cachedBytes);
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_NO_BUFFERING | FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD read = 0;
        for (bool cancel : {true, false}) {
            memset(pages.get(), 0xAA, count);
            OVERLAPPED request{};
            request.Offset = 4096;
            const BOOL atOnce = ReadFile(file, pages.get(), count, &read, &request);
            EXPECT_TRUE(atOnce || GetLastError() == ERROR_IO_PENDING);
            if (cancel) {
                // Only a read the cache serves has not begun.
                EXPECT_EQ(fromCache, bool(CancelIoEx(file, &request)));
                if (fromCache) {
                    EXPECT_TRUE(!GetOverlappedResult(file, &request, &read, TRUE) &&
                                GetLastError() == ERROR_OPERATION_ABORTED && pages.get()[count - 1] == 0xAA);
                }
            }
            if (!cancel || !fromCache) {
                EXPECT_TRUE(GetOverlappedResult(file, &request, &read, TRUE) && read == count &&
                            SameAsFile(pages.get(), 4096, count));
            }
        }
        // Either way of asking (mincore where the kernel lacks cachestat) tells the same.
        for (bool cachestat : {true, false})
            EXPECT_EQ(fromCache, PageCache(path.c_str(), cachestat).Resident(4096, count))
                << "a read from the disk left its pages in the cache, or " << (cachestat ? "cachestat" : "mincore") << " is wrong";
        CloseHandle(file);
    }
}

// Small reads moving forward through a file the cache does not hold (chunks between others'),
// served from blocks read at once: every byte right, to the end of the file and past it.
TEST(FileIOWrapper, SmallForwardReadsOfAColdFile)
{
    for (bool cached : {false, true}) {
        CacheOnly(File().path, 0, cached ? FileSize : 0);
        void* handle = OpenReadSeq(File().path.c_str());
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        size_t at = 3;
        for (unsigned long count = 7680; at < FileSize + 20000; at += count + 144008, count = count % 9000 + 1)
            ASSERT_TRUE(ReadMatches(handle, 512, at, count, false)) << at << (cached ? " cached" : "");
        // Backwards, and large, reads go as they come.
        EXPECT_TRUE(ReadMatches(handle, 512, 4000, 5000, false) && ReadMatches(handle, 512, 9, 300000, false));
        myClose(handle);
    }
}

TEST(FileIOWrapper, SeekMethodsAndNoFile)
{
    void* handle = OpenReadSeq(File().path.c_str());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(mySeek64(handle, -8, FILE_END), (long long)FileSize - 8);
    EXPECT_EQ(mySeek64(handle, 100, FILE_BEGIN), 100);
    EXPECT_EQ(mySeek64(handle, -30, FILE_CURRENT), 70);
    // mySeek's offset is 32 bits wide and sign-extended; its result and myTell are the low 32 bits.
    EXPECT_EQ(mySeek(handle, (long)0xFFFFFFFEu, FILE_CURRENT), 68u);
    EXPECT_EQ(myTell64(handle), 68);
    EXPECT_EQ(mySeek64(handle, 0x100000005ll, FILE_BEGIN), 0x100000005ll);
    EXPECT_EQ(myTell(handle), 5u);
    EXPECT_EQ(mySeek(handle, 1, FILE_CURRENT), 6u);
    EXPECT_THROW(mySeek64(handle, 0, 3), const char*);
    EXPECT_EQ(myTell64(handle), 0x100000006ll);
    unsigned long high = 7;
    EXPECT_TRUE(myGetFileSize(handle, &high) == FileSize && high == 0 && myClose(handle) == 0);
    // The handle (void*)-1 is no file: every call says so and writes nothing.
    void* none = INVALID_HANDLE_VALUE;
    unsigned char byte = 0x5A;
    unsigned int skip = 77;
    EXPECT_TRUE(mySeek64(none, 10, FILE_BEGIN) == -1 && mySeek(none, 10, FILE_BEGIN) == (unsigned long)-1 &&
                myTell64(none) == -1 && myTell(none) == (unsigned long)-1 && myClose(none) == -1);
    EXPECT_TRUE(myRead(none, &byte, 1, &skip, false) == -1 && myGetFileSize(none, &high) == (unsigned long)-1 &&
                myFinishRead(none) == -1);
    EXPECT_TRUE(byte == 0x5A && skip == 77 && high == 0);
    EXPECT_EQ(OpenReadSeq(File().dir.path("missing").c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenReadSeq(File().dir.path("").c_str()), INVALID_HANDLE_VALUE);  // a directory
}

}  // namespace
