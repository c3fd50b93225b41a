// Files held with a byte-range lock far beyond any data: the run keeps the handle that holds it,
// shared for reading, writing and deleting, so the run's own writes and its rename are not in
// its way; the system drops the lock when the handle closes, at the latest when the run ends.
#include <windows.h>

#include <system_error>

#include "protocol/protocol_error.h"
#include "transfer/own_files.h"

namespace transfer {

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The locked byte: no file a run writes reaches it, so no write of the run's data meets it.
constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;
// A name swept away under a run this often in a row is not worth a further try.
constexpr int MaxAttempts = 10;

std::string SystemText(DWORD error) {
  return std::system_category().message(static_cast<int>(error));
}

bool LockFar(HANDLE file, DWORD flags) {
  OVERLAPPED place{};
  place.OffsetHigh = LockOffsetHigh;
  return ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | flags, 0, 1, 0, &place) != 0;
}

// Whether another run marked the file for removal, taking it for one left by an ended run.
bool DeletePending(HANDLE file) {
  FILE_STANDARD_INFO info{};
  return ::GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) &&
         info.DeletePending;
}

}  // namespace

bool CreateNewFile(const std::string& name) {
  HANDLE file = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return false;
    throw protocol::EFileError("Cannot create", name, SystemText(error));
  }
  ::CloseHandle(file);
  return true;
}

bool CreateHeldFile(const std::string& name, HeldFile& held) {
  for (int attempt = 0; attempt < MaxAttempts; ++attempt) {
    HANDLE file = ::CreateFileA(name.c_str(), GENERIC_READ, ShareAll, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return false;
      throw protocol::EFileError("Cannot create", name, SystemText(error));
    }
    // Another run's RemoveUnlessHeld holds the lock only for a moment.
    if (!LockFar(file, 0)) {
      DWORD error = ::GetLastError();
      ::CloseHandle(file);
      throw protocol::EFileError("Cannot lock", name, SystemText(error));
    }
    if (!DeletePending(file)) {
      held.Release();
      held.name_ = name;
      held.lock_ = reinterpret_cast<std::intptr_t>(file);
      return true;
    }
    ::CloseHandle(file);
  }
  throw protocol::EFileError("Cannot create", name,
                             "another run removed it as soon as it was made, time after time");
}

void HeldFile::Release() noexcept {
  if (lock_ == NoLock) return;
  ::CloseHandle(reinterpret_cast<HANDLE>(lock_));
  lock_ = NoLock;
}

LeftFile RemoveUnlessHeld(const std::string& name) {
  HANDLE file = ::CreateFileA(name.c_str(), GENERIC_READ | DELETE, ShareAll, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return LeftFile::None;
    // Open to be written without sharing its removal: a run is writing it now.
    if (error == ERROR_SHARING_VIOLATION) return LeftFile::Held;
    throw protocol::EFileError("Cannot open", name, SystemText(error));
  }
  if (!LockFar(file, LOCKFILE_FAIL_IMMEDIATELY)) {
    DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return LeftFile::Held;
    throw protocol::EFileError("Cannot lock", name, SystemText(error));
  }
  // Removed through this handle, so never a file that took the name meanwhile.
  FILE_DISPOSITION_INFO gone{TRUE};
  if (!::SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone)) {
    DWORD error = ::GetLastError();
    ::CloseHandle(file);
    throw protocol::EFileError("Cannot remove", name, SystemText(error));
  }
  ::CloseHandle(file);
  return LeftFile::Removed;
}

}  // namespace transfer
