// Command transactions per second through SendCommand over a pty against the simulated deco,
// beside a minimal raw write/poll/read loop on the same pty and simulator (the floor of this
// machine). Prints figures and their ratio; never a pass/fail judgement.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "protocol/transaction.h"
#include "raw_transactions.h"
#include "sim/pty_deco.h"

namespace {

constexpr const char* ReadCommand = "0221FF7FE00000";

double ThroughSendCommand(const std::string& path, int count) {
  protocol::DecoLink link;
  link.Open(path, 115200);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    if (protocol::SendCommand(link, ReadCommand, 1).size() != 515) std::abort();
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 4000;
  sim::Settings settings;
  settings.StartInService = true;
  sim::PtyDeco deco(settings);
  bench::RawTransactionsSeconds(deco.SlavePath(), ReadCommand, count / 10);  // warm-up
  double raw = bench::RawTransactionsSeconds(deco.SlavePath(), ReadCommand, count);
  double ours = ThroughSendCommand(deco.SlavePath(), count);
  std::printf("transactions: %d (515-character flash read replies, unpaced simulator)\n", count);
  std::printf("raw write/poll/read loop: %8.1f us per transaction, %8.0f per second\n",
              raw / count * 1e6, count / raw);
  std::printf("SendCommand:              %8.1f us per transaction, %8.0f per second\n",
              ours / count * 1e6, count / ours);
  std::printf("ratio SendCommand / raw:  %8.2f\n", ours / raw);
  return 0;
}
