#pragma once
// The system calls of the file access layer that tests must be able to replace: those whose failures or
// successes Wine cannot produce (a transfer failing part-way, the handle-based rename and delete that Wine does
// not implement, an open denied access, a failed allocation, a pending or failing native transfer, a link that
// reports itself as one) and the transfer itself, whose calls are counted.
// Production code never changes them.

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "placement/file_information.h"
#include "placement/synchronous_transfer.h"

extern "C" {
NTSTATUS NTAPI NtReadFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                          PIO_STATUS_BLOCK ioStatus, PVOID buffer, ULONG length, PLARGE_INTEGER byteOffset,
                          PULONG key);
NTSTATUS NTAPI NtWriteFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                           PIO_STATUS_BLOCK ioStatus, PVOID buffer, ULONG length, PLARGE_INTEGER byteOffset,
                           PULONG key);
}

namespace qmt {

struct FileSystemCalls {
  using Transfer = Expected<std::size_t, Error> (*)(TransferDirection, HANDLE, std::uint8_t*, std::size_t);
  using Open = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  using SetInformation = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  using Allocate = void* (*)(std::size_t);
  using NtTransfer = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                      PLARGE_INTEGER, PULONG);
  using Information = Expected<FileAttributes, Error> (*)(HANDLE);

  Transfer transfer = synchronousTransfer;
  Open createFile = CreateFileW;
  SetInformation setFileInformationByHandle = SetFileInformationByHandle;
  Allocate allocate = std::malloc;
  // Beneath the transfer: the native calls, whose pending and failing statuses Wine does not produce on files.
  NtTransfer ntReadFile = NtReadFile;
  NtTransfer ntWriteFile = NtWriteFile;
  // What queryAttributes learns from an opened object; Wine reports no link as a reparse point.
  Information information = informationOfHandle;
};

// The calls in use; a test replaces members and restores the defaults afterwards.
FileSystemCalls& fileSystemCalls();

// Information classes the MinGW headers lack (they number two other classes 21 and 22).
inline constexpr FILE_INFO_BY_HANDLE_CLASS kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
inline constexpr FILE_INFO_BY_HANDLE_CLASS kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// Every file opened here shares read, write and delete, so others may keep using (and renaming) it meanwhile.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace qmt
