// Unbuffered, overlapped file reading by the Win32 names. A HANDLE from CreateFileA is a
// platform file object; reads with an OVERLAPPED start one positioned read and report
// ERROR_IO_PENDING while it runs; HasOverlappedIoCompleted polls it.
#pragma once

#include "Win32Types.h"

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
// With FILE_FLAG_NO_BUFFERING the offset, the length and the buffer must be 512-aligned.
// With an OVERLAPPED: TRUE when the read completed at once, FALSE with ERROR_IO_PENDING while
// it runs. A file handle has at most one read in flight per OVERLAPPED.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, DWORD* transferred, OVERLAPPED* overlapped);
// Polls the request; once it is seen complete, Internal leaves STATUS_PENDING.
BOOL HasOverlappedIoCompleted(OVERLAPPED* overlapped);
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait);
// Waits at most milliseconds for the read; WAIT_TIMEOUT when it is still running.
BOOL GetOverlappedResultEx(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, DWORD milliseconds,
                           BOOL alertable);
BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);
DWORD GetFileSize(HANDLE file, DWORD* high);
BOOL CloseHandle(HANDLE file);
DWORD GetLastError();
void SetLastError(DWORD error);
