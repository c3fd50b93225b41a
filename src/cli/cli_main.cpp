// pyrelink-cli: READ and WRITE a 607X deco from scripts and batch work, with the same checks,
// questions, log lines and jobs as the window.
#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/cli_job.h"
#include "cli/console_host.h"
#include "serial/port_list.h"
#include "serial/serial_util.h"

namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted = true; }

void AddFileOptions(CLI::App* command, cli::JobOptions& options, bool& yes) {
  transfer::JobSelection& s = options.selection;
  command->add_option("--firmware", s.FirmwareFile, "Firmware image (2 MB)")
      ->each([&s](const std::string&) { s.Firmware = true; });
  command->add_option("--eeprom", s.EepromFile, "EEPROM image (2 KB)")
      ->each([&s](const std::string&) { s.Eeprom = true; });
  command->add_option("--channel", s.ChannelFile, "Channel list image (512 KB)")
      ->each([&s](const std::string&) { s.Channel = true; });
  command->add_flag("--yes", yes, "Answer Yes to every question");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Pyrelink command line: read and write the firmware, EEPROM and channel list of a 607X "
      "deco over a serial port.\nLog lines go to stdout, progress and messages to stderr. "
      "Exit status: 0 every step of the job done, 1 job failed, incomplete or refused, 2 usage, "
      "130 aborted (Ctrl-C).\nA WRITE that does not finish leaves the deco in service mode and "
      "says how to write again."};
  cli::JobOptions options;
  bool yes = false;
  app.add_option("--port", options.port, "Serial port, e.g. /dev/ttyUSB0 or COM1 (/dev/ttyS0)");
  app.add_option("--baud", options.baud, "Line speed in service mode")
      ->check(CLI::IsMember({"9600", "38400", "115200"}))
      ->capture_default_str();
  app.add_flag("--service", options.service,
               "The deco already shows -SE- (default: it shows standby --:--)");
  CLI::App* read = app.add_subcommand("read", "Read the deco into the files given");
  AddFileOptions(read, options, yes);
  CLI::App* write = app.add_subcommand("write", "Write the files given into the deco");
  AddFileOptions(write, options, yes);
  write->add_option("--method", options.method,
                    "normal: write once; safe: write, verify, rewrite differing blocks; "
                    "diff: verify first, write only differing blocks")
      ->check(CLI::IsMember({"normal", "safe", "diff"}))
      ->capture_default_str();
  write->add_flag("!--no-final-check", options.finalCheck,
                  "Do not read back and compare what the WRITE wrote last (and the EEPROM)");
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
    return cli::ExitDone;
  }
  if (options.port.empty()) {
    std::cerr << "pyrelink-cli: --port is required for read and write\n";
    return cli::ExitUsage;
  }
  options.write = app.got_subcommand("write");
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  cli::ConsoleHost host(yes);
  return cli::RunReadOrWrite(options, host, interrupted);
}
