// Unbuffered, overlapped file reading by the Win32 names. A HANDLE from CreateFileA is a
// platform file object; reads with an OVERLAPPED start one positioned read and report
// ERROR_IO_PENDING while it runs; HasOverlappedIoCompleted polls it.
#pragma once

#include "Handle.h"

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
// With FILE_FLAG_NO_BUFFERING the offset, the length and the buffer must be multiples of the
// handle's sector size (GetFileInformationByHandleEx, FileStorageInfo).
// With an OVERLAPPED: TRUE when the read completed at once, FALSE with ERROR_IO_PENDING while
// it runs. An unbuffered read whose every page the page cache holds is copied from there, when it
// is first polled or waited for. A file handle has at most one read in flight per OVERLAPPED.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, DWORD* transferred, OVERLAPPED* overlapped);
// Polls the request; once it is seen complete, Internal leaves STATUS_PENDING.
BOOL HasOverlappedIoCompleted(OVERLAPPED* overlapped);
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait);
// Waits at most milliseconds for the read; WAIT_TIMEOUT when it is still running.
BOOL GetOverlappedResultEx(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, DWORD milliseconds,
                           BOOL alertable);
// Cancels the read if it has not begun: it then completes at once with ERROR_OPERATION_ABORTED.
// FALSE with ERROR_NOT_FOUND when it has finished or is under way (wait for it as usual).
BOOL CancelIoEx(HANDLE file, OVERLAPPED* overlapped);
// TRUE when reads of the range on this unbuffered handle come from the page cache: it holds all
// of it (FALSE for a handle that reads past it, or through it anyway).
BOOL PageCacheHolds(HANDLE file, ULONGLONG offset, DWORD count);
BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);

enum FILE_INFO_BY_HANDLE_CLASS { FileStorageInfo = 16 };

struct FILE_STORAGE_INFO {
    ULONG LogicalBytesPerSector;
    ULONG PhysicalBytesPerSectorForAtomicity;
    ULONG PhysicalBytesPerSectorForPerformance;
    ULONG FileSystemEffectivePhysicalBytesPerSectorForAtomicity;
    ULONG Flags;
    ULONG ByteOffsetForSectorAlignment;
    ULONG ByteOffsetForPartitionAlignment;
};

// FileStorageInfo only, and of it only LogicalBytesPerSector: the grid that the handle's
// unbuffered reads keep to (the rest is 0). The device's own sector size when it is at most a
// page (4096); on a larger or unknown one, and where the file system refuses O_DIRECT, the handle
// reads through the page cache and keeps to 512.
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                  DWORD size);
DWORD GetFileSize(HANDLE file, DWORD* high);
// Removes the file; FALSE (and the last error) when it cannot.
BOOL DeleteFileA(LPCSTR name);

// For tests: files opened from now on take bytes as their device's sector size instead of
// asking the system (0: ask it).
void SetDeviceSectorSize(DWORD bytes);
// For tests and measurements: unbuffered handles opened from now on read past the page cache even
// where it holds their bytes (false: they take them from it).
void IgnorePageCache(bool ignored);
