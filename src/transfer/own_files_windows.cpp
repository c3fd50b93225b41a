#include <windows.h>

#include <system_error>

#include "protocol/protocol_error.h"
#include "transfer/own_files.h"

namespace transfer {

bool CreateNewFile(const std::string& name) {
  HANDLE file = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return false;
    throw protocol::EFileError("Cannot create", name,
                               std::system_category().message(static_cast<int>(error)));
  }
  ::CloseHandle(file);
  return true;
}

}  // namespace transfer
