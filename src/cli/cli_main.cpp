// pyrelink-cli: READ and WRITE a 607X deco from scripts and batch work, with the same checks,
// questions, log lines and jobs as the window.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <clocale>
#include <ctime>
#include <iostream>
#include <thread>

#include "cli/console_host.h"
#include "protocol/flash_map.h"
#include "protocol/service_mode.h"
#include "protocol/transaction.h"
#include "serial/port_list.h"
#include "serial/serial_util.h"
#include "transfer/connection.h"
#include "transfer/io_thread.h"
#include "transfer/job_setup.h"

namespace {

constexpr int ExitJobFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitAborted = 130;
constexpr auto AbortPollInterval = std::chrono::milliseconds(50);
constexpr unsigned AbortSettleSeconds = 1;

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted = true; }

std::string LocalTimeStamp() {
  std::setlocale(LC_TIME, "");
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char date[64], time[64];
  std::strftime(date, sizeof date, "%x", &local);
  std::strftime(time, sizeof time, "%X", &local);
  return transfer::BuildTimeStamp(date, time);
}

struct Options {
  std::string port;
  std::string baud = "115200";
  bool service = false;
  bool yes = false;
  std::string method = "normal";
  transfer::JobSelection selection;
};

transfer::WriteMethod MethodOf(const std::string& name) {
  if (name == "safe") return transfer::WriteMethod::Safe;
  if (name == "diff") return transfer::WriteMethod::DifferentBlocks;
  return transfer::WriteMethod::Normal;
}

// Runs the prepared job on the worker; Ctrl-C is the Abort.
int RunJob(cli::ConsoleHost& host, const transfer::JobSelection& selection) {
  transfer::TIOThread worker(host, selection);
  worker.Resume();
  while (!worker.Finished()) {
    std::this_thread::sleep_for(AbortPollInterval);
    if (interrupted && !worker.Terminated()) worker.Terminate();
  }
  worker.WaitFor();
  if (worker.Terminated() && !host.Done()) {
    protocol::WaitSeconds(AbortSettleSeconds);
    host.Message("Thread Aborted");
    return ExitAborted;
  }
  if (!worker.ErrorText().empty()) {
    host.Message("pyrelink-cli: job failed: " + worker.ErrorText());
    return ExitJobFailed;
  }
  return host.Done() ? 0 : ExitJobFailed;
}

int RunReadOrWrite(const Options& options, bool write) {
  cli::ConsoleHost host(options.yes);
  protocol::MainWindowHandle = &host;
  protocol::FillFlashTables();
  transfer::SetTimeStampedNames(LocalTimeStamp());
  const transfer::JobSelection& selection = options.selection;

  if (write) {
    if (!host.Confirm("Patch deco is risky.  Continue?")) return ExitJobFailed;
    transfer::SetWriteMethod(MethodOf(options.method));
    if (!transfer::CheckWriteFiles(selection, host)) return ExitJobFailed;
  } else if (!transfer::AskReadOverwrites(selection, host)) {
    return ExitJobFailed;
  }

  std::string error;
  if (!transfer::ConnectDeco(options.port, options.baud, !options.service, error)) {
    host.Message("pyrelink-cli: connect failed: " + error);
    return ExitJobFailed;
  }
  host.AddLogLine("OK");

  int result = ExitJobFailed;
  try {
    if (write) {
      transfer::MergeAndSetWriteJobValues(selection, host);
    } else {
      transfer::SetReadJobValues(selection);
    }
    result = RunJob(host, selection);
  } catch (const std::exception& failure) {
    host.Message(std::string("pyrelink-cli: ") + failure.what());
  }

  try {
    transfer::DisconnectDeco();
  } catch (const std::exception& failure) {
    host.Message(std::string("pyrelink-cli: disconnect failed: ") + failure.what());
    if (result == 0) result = ExitJobFailed;
  }
  protocol::MainWindowHandle = nullptr;
  return result;
}

void AddFileOptions(CLI::App* command, Options& options) {
  command->add_option("--firmware", options.selection.FirmwareFile, "Firmware image (2 MB)")
      ->each([&](const std::string&) { options.selection.Firmware = true; });
  command->add_option("--eeprom", options.selection.EepromFile, "EEPROM image (2 KB)")
      ->each([&](const std::string&) { options.selection.Eeprom = true; });
  command->add_option("--channel", options.selection.ChannelFile, "Channel list image (512 KB)")
      ->each([&](const std::string&) { options.selection.Channel = true; });
  command->add_flag("--yes", options.yes, "Answer Yes to every question");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Pyrelink command line: read and write the firmware, EEPROM and channel list of a 607X "
      "deco over a serial port.\nLog lines go to stdout, progress and messages to stderr. "
      "Exit status: 0 job finished, 1 job failed or refused, 2 usage, 130 aborted (Ctrl-C)."};
  Options options;
  app.add_option("--port", options.port, "Serial port, e.g. /dev/ttyUSB0 or COM1 (/dev/ttyS0)");
  app.add_option("--baud", options.baud, "Line speed in service mode")
      ->check(CLI::IsMember({"9600", "38400", "115200"}))
      ->capture_default_str();
  app.add_flag("--service", options.service,
               "The deco already shows -SE- (default: it shows standby --:--)");
  CLI::App* read = app.add_subcommand("read", "Read the deco into the files given");
  AddFileOptions(read, options);
  CLI::App* write = app.add_subcommand("write", "Write the files given into the deco");
  AddFileOptions(write, options);
  write->add_option("--method", options.method,
                    "normal: write once; safe: write, verify, rewrite differing blocks; "
                    "diff: verify first, write only differing blocks")
      ->check(CLI::IsMember({"normal", "safe", "diff"}))
      ->capture_default_str();
  app.add_subcommand("ports", "List the serial ports present, one per line");
  app.require_subcommand(1);
  app.footer(
      "Examples:\n  pyrelink-cli --port /dev/ttyUSB0 read --firmware Fw.bin --channel Ch.bin\n"
      "  pyrelink-cli --port COM1 --baud 38400 write --eeprom E.bin --method safe --yes");
  CLI11_PARSE(app, argc, argv);

  if (app.got_subcommand("ports")) {
    std::vector<std::string> ports;
    serial::SplitList(serial::ListSerialPorts(), ',', ports);
    for (const std::string& port : ports) std::cout << port << "\n";
    return 0;
  }
  if (options.port.empty()) {
    std::cerr << "pyrelink-cli: --port is required for read and write\n";
    return ExitUsage;
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return RunReadOrWrite(options, app.got_subcommand("write"));
}
