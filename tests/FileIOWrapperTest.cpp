#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/FileIOWrapper.h"
#include "ombrix/platform.h"
#include "platform/win32/AsyncReader.h"
#include "platform/win32/File.h"
#include "platform/win32/Memory.h"

namespace {

constexpr size_t LargeSize = (8u << 20) + 1234;  // a partial last sector
constexpr size_t SmallSize = 1000;
constexpr unsigned long Big = 8u << 20;

// A large and a small file of random bytes (the small one is the large one's start), in a
// directory made for this run.
struct TestFiles {
    TestFiles() : data(LargeSize)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-fileio-XXXXXX").string();
        dir = mkdtemp(pattern.data());
        large = dir + "/large.bin";
        small = dir + "/small.bin";
        std::mt19937 random(20240611);
        std::generate(data.begin(), data.end(), [&] { return (unsigned char)random(); });
        std::ofstream(large, std::ios::binary).write((const char*)data.data(), LargeSize);
        std::ofstream(small, std::ios::binary).write((const char*)data.data(), SmallSize);
    }
    ~TestFiles() { std::filesystem::remove_all(dir); }

    std::vector<unsigned char> data;
    std::string dir, large, small;
};

const TestFiles& Files()
{
    static TestFiles files;
    return files;
}

bool SameAsFile(const unsigned char* bytes, size_t offset, size_t count)
{
    return memcmp(bytes, Files().data.data() + offset, count) == 0;
}

struct PageRelease {
    void operator()(unsigned char* pages) const { VirtualFree(pages, 0, MEM_RELEASE); }
};
using Pages = std::unique_ptr<unsigned char, PageRelease>;

Pages AllocatePages(size_t size)
{
    return Pages(static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)));
}

void Append(const char* text, void* messages) { static_cast<std::vector<std::string>*>(messages)->push_back(text); }

// Every check runs once per asynchronous back-end that the system accepts.
class FileIOBackend : public testing::TestWithParam<AsyncBackend> {
protected:
    void SetUp() override
    {
        m_Previous = GetAsyncBackend();
        int fd = open(Files().large.c_str(), O_RDONLY | O_DIRECT);
        ASSERT_GE(fd, 0);
        bool available = AsyncReader::Create(fd, GetParam())->Backend() == GetParam();
        close(fd);
        if (!available) {
            GTEST_SKIP() << "this system refuses the back-end";
        }
        SetAsyncBackend(GetParam());
        m_Handle = OpenReadSeq(Files().large.c_str());
        ASSERT_NE(m_Handle, INVALID_HANDLE_VALUE);
    }
    void TearDown() override
    {
        SetAsyncBackend(m_Previous);
        if (m_Handle != INVALID_HANDLE_VALUE) {
            EXPECT_EQ(myClose(m_Handle), 0);
        }
    }

    AsyncBackend m_Previous = AsyncBackend::IoUring;
    void* m_Handle = INVALID_HANDLE_VALUE;
};

TEST_P(FileIOBackend, AlignmentAndEndOfFile)
{
    // From 511 on, 3584 bytes still fit the bounce buffer with the sector before them; 3585 do not.
    std::vector<unsigned char> out(4096);
    for (auto [start, count] : {std::pair{5ll, 8ul}, {511ll, 3584ul}, {511ll, 3585ul}, {13ll, 0ul}}) {
        std::fill(out.begin(), out.end(), 0xAA);
        mySeek64(m_Handle, start, FILE_BEGIN);
        EXPECT_EQ(myRead(m_Handle, out.data(), count, nullptr, false), (int)count);
        EXPECT_TRUE(SameAsFile(out.data(), start, count)) << count;
        EXPECT_EQ(out[count], 0xAA) << count;
        EXPECT_EQ(myTell64(m_Handle), start + (long long)count);
    }
    Pages direct = AllocatePages(8192);
    for (long long start : {1024ll, 700ll, 511ll}) {
        unsigned int skip = 9999;
        mySeek64(m_Handle, start, FILE_BEGIN);
        EXPECT_EQ(myRead(m_Handle, direct.get(), 3585, &skip, false), 3585);
        EXPECT_EQ(skip, start % 512);
        EXPECT_TRUE(SameAsFile(direct.get() + skip, start, 3585)) << start;
    }

    void* small = OpenReadSeq(Files().small.c_str());
    ASSERT_NE(small, INVALID_HANDLE_VALUE);
    for (auto [start, inside] : {std::pair{850, 100}, {950, 50}, {1000, 0}, {1500, 0}}) {
        mySeek64(small, start, FILE_BEGIN);
        EXPECT_EQ(myRead(small, out.data(), 100, nullptr, false), inside) << start;
        EXPECT_TRUE(SameAsFile(out.data(), start, inside)) << start;
        EXPECT_EQ(myTell64(small), start + 100);
        unsigned int skip;
        mySeek64(small, start, FILE_BEGIN);
        EXPECT_EQ(myRead(small, direct.get(), 100, &skip, false), inside) << start;
        EXPECT_TRUE(SameAsFile(direct.get() + skip, start, inside)) << start;
    }
    EXPECT_EQ(myClose(small), 0);
}

TEST_P(FileIOBackend, NextReadWaitsForAnAsynchronousOne)
{
    Pages first = AllocatePages(Big + 4096);
    std::vector<unsigned char> second(Big);
    std::vector<std::string> messages;
    Ombrix_SetDebugSink(Append, &messages);
    unsigned int skip;
    mySeek64(m_Handle, 3, FILE_BEGIN);
    EXPECT_EQ(myRead(m_Handle, first.get(), Big, &skip, true), (int)Big);
    EXPECT_EQ(myRead(m_Handle, second.data(), 100, nullptr, false), 100);
    EXPECT_EQ(skip, 3u);
    EXPECT_TRUE(SameAsFile(first.get() + 3, 3, Big));
    EXPECT_TRUE(SameAsFile(second.data(), 3 + Big, 100));
    for (const std::string& message : messages)
        EXPECT_EQ(message, "FileIOWrapper::myRead Stall\n");
    // pread finishes every read inside the call; the others are still reading 8 MiB.
    EXPECT_EQ(messages.empty(), GetParam() == AsyncBackend::Pread);

    // A synchronous read waits silently.
    messages.clear();
    mySeek64(m_Handle, 100, FILE_BEGIN);
    EXPECT_EQ(myRead(m_Handle, second.data(), Big, nullptr, false), (int)Big);
    EXPECT_TRUE(SameAsFile(second.data(), 100, Big));
    EXPECT_TRUE(messages.empty());
    Ombrix_SetDebugSink(nullptr, nullptr);
}

TEST_P(FileIOBackend, RandomReadsMatchPread)
{
    constexpr unsigned long MaxCount = 512 << 10;
    int fd = open(Files().large.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    Pages direct = AllocatePages(MaxCount + 1024);
    std::vector<unsigned char> copy(MaxCount), expected(MaxCount);
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        unsigned long long start = random() % (LargeSize + 2048);
        unsigned long count = random() % (i % 4 ? MaxCount : 4096);
        bool directMode = i % 2;
        ssize_t inside = pread(fd, expected.data(), count, (off_t)start);
        mySeek64(m_Handle, (long long)start, FILE_BEGIN);
        unsigned int skip = 0;
        int got = directMode ? myRead(m_Handle, direct.get(), count, &skip, false)
                             : myRead(m_Handle, copy.data(), count, nullptr, false);
        ASSERT_EQ(got, inside) << start << " + " << count;
        const unsigned char* bytes = directMode ? direct.get() + skip : copy.data();
        ASSERT_EQ(memcmp(bytes, expected.data(), inside), 0) << start << " + " << count;
        ASSERT_EQ(myTell64(m_Handle), (long long)(start + count));
    }
    close(fd);
}

TEST_P(FileIOBackend, Win32ReadRules)
{
    auto open = [](const std::string& name) {
        return CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_NO_BUFFERING | FILE_FLAG_OVERLAPPED, nullptr);
    };
    EXPECT_EQ(open(Files().dir + "/missing"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    HANDLE file = open(Files().large);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 9;
    EXPECT_EQ(GetFileSize(file, &high), LargeSize);
    EXPECT_EQ(high, 0u);

    Pages buffer = AllocatePages(Big);
    OVERLAPPED request{};
    DWORD transferred = 0;
    auto read = [&](unsigned char* into, DWORD count, DWORD offset) {
        request.Offset = offset;
        return ReadFile(file, into, count, nullptr, &request) ||
               (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(file, &request, &transferred, TRUE));
    };
    // Unbuffered reads refuse offsets, lengths and buffers off the sector grid.
    for (auto [into, count, offset] : {std::tuple{buffer.get(), 512u, 1u}, {buffer.get(), 100u, 0u}, {buffer.get() + 8, 512u, 0u}}) {
        EXPECT_FALSE(read(into, count, offset));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    }
    // Across the end the bytes that exist arrive; wholly past it is the end of the file.
    DWORD lastSector = LargeSize / 512 * 512;
    ASSERT_TRUE(read(buffer.get(), 1024, lastSector));
    EXPECT_EQ(request.InternalHigh, LargeSize % 512);
    EXPECT_TRUE(SameAsFile(buffer.get(), lastSector, LargeSize % 512));
    EXPECT_FALSE(read(buffer.get(), 512, lastSector + 512));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_HANDLE_EOF);

    // CloseHandle lets a read in flight finish, and records it.
    request.Offset = 0;
    if (!ReadFile(file, buffer.get(), Big, nullptr, &request)) {
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_IO_PENDING);
    }
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_NE(request.Internal, (ULONG_PTR)STATUS_PENDING);
    EXPECT_EQ(request.InternalHigh, Big);
    EXPECT_TRUE(SameAsFile(buffer.get(), 0, Big));
}

std::string BackendName(const testing::TestParamInfo<AsyncBackend>& info)
{
    const char* names[] = {"IoUring", "LinuxAio", "Pread"};
    return names[(int)info.param];
}

INSTANTIATE_TEST_SUITE_P(FileIO, FileIOBackend,
                         testing::Values(AsyncBackend::IoUring, AsyncBackend::LinuxAio, AsyncBackend::Pread),
                         BackendName);

TEST(FileIOWrapper, SeekMethods)
{
    void* handle = OpenReadSeq(Files().small.c_str());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(mySeek64(handle, -8, FILE_END), 992);
    EXPECT_EQ(mySeek64(handle, 100, FILE_BEGIN), 100);
    EXPECT_EQ(mySeek64(handle, -30, FILE_CURRENT), 70);
    EXPECT_EQ(mySeek(handle, -4, FILE_CURRENT), 66u);
    // mySeek's offset is 32 bits wide and sign-extended; its result and myTell are the low 32 bits.
    EXPECT_EQ(mySeek(handle, (long)0xFFFFFFFEu, FILE_CURRENT), 64u);
    EXPECT_EQ(mySeek64(handle, 0x100000005ll, FILE_BEGIN), 0x100000005ll);
    EXPECT_EQ(myTell(handle), 5u);
    EXPECT_EQ(mySeek(handle, 1, FILE_CURRENT), 6u);
    EXPECT_EQ(myTell64(handle), 0x100000006ll);
    try {
        mySeek64(handle, 0, 3);
        ADD_FAILURE() << "no exception";
    } catch (const char* text) {
        EXPECT_STREQ(text, "FileIOWrapper::mySeek64 unknown MoveMethod");
    }
    EXPECT_EQ(myTell64(handle), 0x100000006ll);
    unsigned long high = 7;
    EXPECT_EQ(myGetFileSize(handle, &high), SmallSize);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(myClose(handle), 0);
}

TEST(FileIOWrapper, NoFileHandle)
{
    void* none = INVALID_HANDLE_VALUE;
    unsigned char byte = 0x5A;
    unsigned int skip = 77;
    unsigned long high = 77;
    EXPECT_EQ(mySeek64(none, 10, FILE_BEGIN), -1);
    EXPECT_EQ(mySeek(none, 10, FILE_BEGIN), (unsigned long)-1);
    EXPECT_EQ(myTell64(none), -1);
    EXPECT_EQ(myTell(none), (unsigned long)-1);
    EXPECT_EQ(myRead(none, &byte, 1, &skip, false), -1);
    EXPECT_EQ(myGetFileSize(none, &high), (unsigned long)-1);
    EXPECT_EQ(myClose(none), -1);
    EXPECT_TRUE(byte == 0x5A && skip == 77 && high == 77);

    EXPECT_EQ(OpenReadSeq((Files().dir + "/missing").c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenReadSeq(Files().dir.c_str()), INVALID_HANDLE_VALUE);
}

}  // namespace
