// Everything the engine keeps about one deco and its line: the port, the reply time-out, what
// the deco told us at Connect, the status line, the EEPROM line buffer and the flash tables. The
// window has one for the whole process; the command line serving several decos at once gives
// each port its own, installed on the threads that work on that port.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/transaction.h"

namespace protocol {

struct LinkContext {
  std::unique_ptr<serial::TBlockSerial> SerialLink;
  std::atomic<int32_t> BaseTimeout{StandardBaseTimeout};
  std::atomic<bool> DecoInStandby{true};
  std::atomic<bool> Block18Protected{false};
  std::atomic<StatusSink*> MainWindowHandle{nullptr};
  // Every block is read until two reads agree; Rereads counts the reads beyond the second.
  std::atomic<bool> DoubleRead{false};
  std::atomic<uint64_t> Rereads{0};
  std::mutex StatusMutex;
  std::string StatusText;
  std::array<uint8_t, EepromLineBytes> EepromBuffer{};
  std::array<uint32_t, SectorCount + 1> SectorBase{};
  std::array<uint8_t, SectorCount + 1> SectorFlags{};
  std::vector<std::string> EraseCommands;
  std::vector<std::string> ProgramCommands;
};

// The context installed on this thread, or else the process's one.
LinkContext& CurrentLink();

// Installs a context on this thread for the scope's life.
class LinkScope {
 public:
  explicit LinkScope(LinkContext& link);
  ~LinkScope();
  LinkScope(const LinkScope&) = delete;
  LinkScope& operator=(const LinkScope&) = delete;

 private:
  LinkContext* previous_;
};

}  // namespace protocol
