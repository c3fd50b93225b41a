// ReceiveUntil fed any byte stream, in any chunks, with any line errors: it ends, and every byte
// that arrived is in a reply it handed over, in the line buffer, or not yet read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "serial/block_serial.h"
#include "support/scripted_backend.h"

namespace {
constexpr uint32_t LineErrorMask = serial::LineErrParity | serial::LineErrFrame |
                                   serial::LineErrOverrun | serial::LineErrRxOver;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  auto backend = std::make_unique<testing_support::ScriptedBackend>();
  std::string arrived;
  for (size_t i = 1; i + 1 < size;) {
    size_t length = data[i] % 64;
    uint32_t errors = data[i + 1] & 0x0F & LineErrorMask;
    i += 2;
    if (length > size - i) length = size - i;
    testing_support::ScriptedBackend::Chunk chunk{
        std::string(reinterpret_cast<const char*>(data) + i, length), errors};
    arrived += chunk.bytes;
    backend->chunks.push_back(chunk);
    i += length;
  }
  testing_support::ScriptedBackend& device = *backend;
  serial::TBlockSerial link(std::move(backend));
  link.OpenPort("fuzz");
  const serial::ReceiveLimits limits{mode & 1 ? 16 : 0, (mode & 2) == 0, false};

  std::string handedOver;
  for (size_t round = 0; round <= arrived.size() + 2; ++round) {
    std::string reply = link.ReceiveUntil(100, "\r", limits);
    if (link.LastError() == serial::ErrOk) handedOver += reply + "\r";
  }
  std::string unread;
  for (const auto& chunk : device.chunks) unread += chunk.bytes;
  if (handedOver + link.Held() + unread != arrived) std::abort();
  return 0;
}
