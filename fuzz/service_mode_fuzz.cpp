// Connecting to a deco that answers anything: the model text, the speed switch's answer, the
// initialisation replies and a flash read are judged without a crash, and a failure is an
// exception the caller can report.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/clock.h"
#include "protocol/hex_codec.h"
#include "protocol/service_mode.h"
#include "protocol/transaction.h"
#include "support/scripted_backend.h"

namespace {

// Puts the next scripted reply on the line whenever a command has been written.
class AnsweringBackend : public testing_support::ScriptedBackend {
 public:
  std::deque<Chunk> replies;
  int Write(const uint8_t* buffer, int32_t count, int32_t timeout, int32_t& done) override {
    if (count > 0 && buffer[count - 1] == '\n' && !replies.empty()) {
      chunks.push_back(replies.front());
      replies.pop_front();
    }
    return ScriptedBackend::Write(buffer, count, timeout, done);
  }
};

protocol::FastClock instantClock;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  auto backend = std::make_unique<AnsweringBackend>();
  for (size_t i = 1; i < size;) {
    size_t length = data[i] % 128;
    ++i;
    if (length > size - i) length = size - i;
    backend->replies.push_back({std::string(reinterpret_cast<const char*>(data) + i, length), 0});
    i += length;
  }
  protocol::DecoLink link(nullptr, instantClock);
  link.UseBackend(std::move(backend));
  const char* const bauds[] = {"9600", "38400", "115200"};
  try {
    protocol::DecoFacts learned;
    protocol::EnterServiceMode(link, "fuzz", bauds[(mode >> 1) % 3], (mode & 1) != 0, learned);
    uint8_t block[protocol::ReadBlockBytes];
    std::string reply = protocol::SendCommand(link, "0221FF7FE00000", 1);
    protocol::DecodeHexWords256(reply, 3, block);
    protocol::LeaveServiceMode(link);
  } catch (const std::exception&) {
    // A deco that answers nonsense ends the connect with a reportable error.
  }
  return 0;
}
