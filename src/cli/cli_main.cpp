// pyrelink-cli: READ and WRITE a 607X deco from scripts and batch work, with the same checks,
// questions, log lines and jobs as the window; and the image tools that need no deco.
#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <iostream>
#include <utility>

#include "cli/batch.h"
#include "cli/chip_command.h"
#include "cli/cli_job.h"
#include "cli/console_host.h"
#include "cli/image_tools.h"
#include "cli/line_check.h"
#include "cli/port_listing.h"
#include "cli/standby_command.h"
#include "cli/usage_help.h"
#include "cli/verify_command.h"
#include "pyrelink_version.h"
#include "serial/port_details.h"

namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int) {
  interrupted = true;
}

// Ctrl-C and a termination stop the job at its next safe point.
void CatchSignals() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
#ifdef SIGXFSZ
  // A file that outgrows the size limit is a write error with its reason, not a killed program.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef SIGPIPE
  // Output piped into a program that ended (`| tee` after Ctrl-C) must never end a WRITE
  // mid-sector: the job goes on to its safe point, and the log file and report stay complete.
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

void AddMemoryOptions(CLI::App* command, cli::JobOptions& options) {
  transfer::JobSelection& s = options.selection;
  command->add_option("--firmware", s.FirmwareFile, "Firmware image (2 MB)")
      ->each([&s](const std::string&) { s.Firmware = true; });
  command->add_option("--eeprom", s.EepromFile, "EEPROM image (2 KB)")
      ->each([&s](const std::string&) { s.Eeprom = true; });
  command->add_option("--channel", s.ChannelFile, "Channel list image (512 KB)")
      ->each([&s](const std::string&) { s.Channel = true; });
}

void AddFileOptions(CLI::App* command, cli::JobOptions& options, bool& yes) {
  AddMemoryOptions(command, options);
  command->add_flag("--yes", yes, "Answer Yes to every question");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Pyrelink command line: read and write the firmware, EEPROM and channel list of a 607X "
      "deco over a serial port, and look at image files.\nLog lines go to stdout, progress and "
      "messages to stderr. Exit status: 0 every step of the job done, 1 job failed, incomplete "
      "or refused (diff: different), 2 usage or file error, 130 aborted (Ctrl-C).\nA WRITE that "
      "does not finish leaves the deco in service mode and says how to write again."};
  // The port, speed and record options may also follow the subcommand (its subcommands inherit
  // this as they are made).
  app.fallthrough();
  app.set_version_flag("--version", std::string("pyrelink-cli ") + PyrelinkVersion);
  cli::JobOptions options;
  options.commandLine.assign(argv, argv + argc);
  bool yes = false;
  std::vector<std::string> portNames;
  app.add_option("-p,--port", portNames,
                 "Serial port, e.g. /dev/ttyUSB0 or COM1 (/dev/ttyS0); give it again for each "
                 "further deco: the job then runs on all at once, and file names take {port}")
      // One name each time: a mistyped subcommand after it is no second port.
      ->allow_extra_args(false);
  app.add_option("-b,--baud", options.baud, "Line speed in service mode")
      ->check(CLI::IsMember({"9600", "38400", "115200"}))
      ->capture_default_str();
  app.add_flag("--service", options.service,
               "The deco already shows -SE- (default: it shows standby --:--)");
  app.add_flag("--auto", options.autoConnect,
               "Find the deco first: listen in service mode at each speed (the --baud one first; "
               "about 2 s at each where it is silent) and connect where it answers, else from "
               "standby, and say which; nothing reaches a deco in standby before it is known");
  app.add_option("--log", options.logFile,
                 "Append every log line and message, with date and time, to this file");
  app.add_option("--report", options.reportFile,
                 "Write a JSON report of the READ or WRITE to this file");
  app.add_option("--trace", options.traceFile,
                 "Record the line in this file: every byte sent and received with its time, the "
                 "port's events and the job's steps (for a deco that misbehaves; pyrelink-sim "
                 "--replay answers as it did)");
  app.add_option("--retries", options.retries,
                 "Send a block read again this often when its reply is missing or bad (a READ, "
                 "a WRITE's read-backs); 0: the job fails at once")
      ->check(CLI::Range(0, 100))
      ->capture_default_str();
  app.add_flag("--verbose", options.verbose,
               "Also tell the device used and each phase's seconds and characters per second");

  CLI::App* read = app.add_subcommand("read", "Read the deco into the files given");
  AddFileOptions(read, options, yes);
  read->add_flag("--checksums", options.checksums,
                 "Write FILE.sha256 beside each dump (check it with sha256sum -c in the dump's "
                 "folder)");
  read->add_flag("--double-read", options.doubleRead,
                 "Read every block twice and take it when both agree (up to three more reads); "
                 "the deco's replies carry no checksum");
  read->add_flag("--resume", options.resume,
                 "Go on with the flash dump's FILE.partial that a READ of the same deco left: "
                 "read only the blocks it lacks");
  read->footer("Example: pyrelink-cli --port /dev/ttyUSB0 read --firmware Fw.bin --eeprom E.bin");
  CLI::App* write = app.add_subcommand("write", "Write the files given into the deco");
  AddFileOptions(write, options, yes);
  write
      ->add_option("--method", options.method,
                   "normal: write once; safe: write, verify, rewrite differing blocks; "
                   "diff: verify first, write only differing blocks")
      ->check(CLI::IsMember({"normal", "safe", "diff"}))
      ->capture_default_str();
  write->add_flag_callback(
      "--no-final-check", [&options] { options.finalCheck = false; },
      "Do not read back and compare what the WRITE wrote last (and the EEPROM)");
  write->add_flag("--skip-blank-words", options.skipBlankWords,
                  "Do not program FFFFFFFF words into the sectors the WRITE erased (erased flash "
                  "holds them); needs --method safe or the final check");
  write->add_flag("--erase-poll", options.erasePoll,
                  "After each sector erase, read the sector until it is erased (20 s at most) "
                  "instead of pausing 5 s; --verbose and the report give each erase's time; "
                  "needs --method safe or the final check");
  write->add_flag("--fast-program", options.fastProgram,
                  "Identify the flash chips and, when they offer unlock bypass, program each "
                  "word by two commands instead of four; needs --method safe or the final check");
  write->add_flag("--fast", options.fast,
                  "Safe with --erase-poll --fast-program --skip-blank-words and the final check; "
                  "each falls back to the usual way as it does alone, and the log says which "
                  "were used (a --method given keeps its method)");
  write->add_option("--work-dir", options.workDir,
                    "Folder for the files the WRITE makes (read-back, merged image, backup); "
                    "default: the current folder");
  bool noBackup = false;
  CLI::Option* backupDir = write->add_option(
      "--backup-dir", options.backupDir,
      "Folder in which the backup-<stamp> folder is made; default: the --work-dir");
  write->add_flag("--no-backup", noBackup,
                  "Do not read the EEPROM and the flash about to change before writing (for a "
                  "line of identical decos)")
      ->excludes(backupDir);
  write->add_flag("--double-read", options.doubleRead,
                  "Read every block of the backup twice and take it when both agree (up to three "
                  "more reads), as a READ does");
  write->footer(
      "Example: pyrelink-cli --port COM1 --baud 38400 write --eeprom E.bin --method safe\n"
      "Example: pyrelink-cli --port /dev/ttyUSB0 write --firmware Fw.bin --fast");
  int lineCheckReads = cli::DefaultLineCheckReads;
  CLI::App* lineCheck = app.add_subcommand(
      "line-check",
      "Check the cable and adapter before a long WRITE: read the EEPROM again and again (nothing "
      "is written), then tell the reply times, the reads repeated or failed and the characters "
      "per second against the wire's, and every byte that read otherwise than the first time; "
      "exit 1 when a read was repeated, failed or differed");
  lineCheck->add_option("--reads", lineCheckReads, "How often to read the whole EEPROM")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  lineCheck->footer("Example: pyrelink-cli --port /dev/ttyUSB0 line-check --reads 20");
  CLI::App* verify = app.add_subcommand(
      "verify",
      "Compare the deco with the files given without writing anything, as a WRITE's final check "
      "does (sectors 0-2 erased with the 8 zero words, the image from sector 3 on; every sector "
      "the file covers, blank ones too), and list the differing sectors and words; exit 0 only "
      "when all are equal");
  AddMemoryOptions(verify, options);
  verify->footer("Example: pyrelink-cli --port /dev/ttyUSB0 verify --firmware Fw.bin --eeprom E.bin");
  CLI::App* chip = app.add_subcommand(
      "chip",
      "Identify the deco's two flash chips (manufacturer and device codes, the part, whether it "
      "offers unlock bypass); the memory is not changed");
  chip->footer("Example: pyrelink-cli --port /dev/ttyUSB0 chip");
  CLI::App* standby = app.add_subcommand(
      "standby",
      "Send a deco in service mode back to standby (the window's Disconnect), after a question "
      "unless --yes; a WRITE that did not end proven leaves the deco in service mode, and this is "
      "the way out once its flash is whole");
  standby->add_flag("--yes", yes, "Answer Yes to the question");
  standby->footer("Example: pyrelink-cli --port /dev/ttyUSB0 --service --baud 115200 standby");
  bool portsJson = false;
  CLI::App* ports = app.add_subcommand(
      "ports",
      "List the serial ports present, one per line: the name, then the adapter's description, "
      "USB vendor:product, serial number and stable name where known; nothing is opened");
  ports->add_flag("--json", portsJson,
                  "Print a JSON array of objects (name, description, vendor, product, serial, "
                  "by_id) instead");
  ports->footer("Example: pyrelink-cli ports --json");

  std::vector<std::string> infoFiles;
  CLI::App* info = app.add_subcommand("info", "What each file is: kind, size, SHA-256, sectors");
  info->add_option("files", infoFiles, "Image files")->required();
  info->footer("Example: pyrelink-cli info Fw.bin E.bin");
  std::string image, readBack, channel, firmware, output;
  bool isProtected = false;
  CLI::App* diff = app.add_subcommand(
      "diff", "Compare an image with a read-back as the write methods do (0 equal, 1 different)");
  diff->add_option("image", image, "Image file")->required();
  diff->add_option("readback", readBack, "Read-back of the flash")->required();
  diff->add_flag("--protected", isProtected, "Leave sector 18 out, as for a protected model");
  bool asWritten = false;
  diff->add_flag(
      "--as-written", asWritten,
      "Compare with what a WRITE of the image leaves, as its final check does: "
      "sectors 0-2 erased with the 8 zero words at 7FE00000, the image from sector 3 on");
  diff->footer(
      "Example: pyrelink-cli diff Fw.bin _2MB_12-7-2026_1-18-29_AM.BIN\n"
      "Example: pyrelink-cli diff --as-written Fw.bin Fw_after_write.bin");
  CLI::App* merge = app.add_subcommand("merge", "Insert a channel list into a copy of a firmware");
  merge->add_option("channel", channel, "Channel list image (512 KB)")->required();
  merge->add_option("firmware", firmware, "Firmware image (2 MB)")->required();
  merge->add_option("output", output, "The merged firmware image to create")->required();
  merge->add_flag("--yes", yes, "Replace an existing output without asking");
  merge->footer("Example: pyrelink-cli merge Ch.bin Fw.bin Merged.bin");
  CLI::App* extract = app.add_subcommand("extract", "Cut the channel list out of a firmware");
  extract->add_option("firmware", firmware, "Firmware image (2 MB)")->required();
  extract->add_option("channel", channel, "The channel list image to create")->required();
  extract->add_flag("--yes", yes, "Replace an existing output without asking");
  extract->footer("Example: pyrelink-cli extract Fw.bin Ch.bin");
  // Each subcommand that talks to a deco names the options of the run it takes.
  const std::vector<std::string> jobRunOptions = {"--port",    "--baud", "--service",
                                                  "--auto",    "--retries", "--log",
                                                  "--report",  "--verbose", "--trace"};
  const std::vector<std::string> decoRunOptions = {"--port", "--baud", "--service", "--auto",
                                                   "--retries", "--trace"};
  for (CLI::App* command : {read, write, lineCheck, chip, verify, standby}) {
    const std::vector<std::string>& taken =
        command == read || command == write ? jobRunOptions : decoRunOptions;
    command->footer([&app, &taken] { return cli::RunOptionsHelp(app, taken); });
  }
  app.failure_message([](const CLI::App* parsed, const CLI::Error& error) {
    return cli::UsageErrorText(*parsed, error);
  });
  app.require_subcommand(1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help is no error; every mistake in the command line is a usage error, exit 2.
    return app.exit(error) == 0 ? cli::ExitDone : cli::ExitUsage;
  }

  cli::ConsoleHost host(yes);
  // The exit status goes into the run's trace, when it has one, as its last mark.
  const int status = [&]() -> int {
    if (app.got_subcommand(ports)) {
      const std::vector<serial::PortDetails> found = serial::ListPortDetails();
      if (portsJson) {
        std::cout << cli::PortsJson(found) << "\n";
      } else {
        for (const serial::PortDetails& port : found) std::cout << cli::PortLine(port) << "\n";
      }
      return cli::ExitDone;
    }
    if (app.got_subcommand(info)) return cli::InfoCommand(infoFiles, host);
    if (app.got_subcommand(diff))
      return cli::DiffCommand(image, readBack, isProtected, host,
                              asWritten ? cli::DiffAs::Written : cli::DiffAs::Image);
    if (app.got_subcommand(merge)) return cli::MergeCommand(channel, firmware, output, host);
    if (app.got_subcommand(extract)) return cli::ExtractCommand(firmware, channel, host);

    // The deco's checks talk to one deco.
    const transfer::JobSelection& chosen = options.selection;
    const std::string command = app.get_subcommands().front()->get_name();
    if ((command == "read" || command == "write" || command == "verify") && !chosen.Firmware &&
        !chosen.Eeprom && !chosen.Channel) {
      host.Tell(command + " needs at least one memory: --firmware, --eeprom or --channel");
      return cli::ExitUsage;
    }
    for (CLI::App* onePort : {lineCheck, chip, verify, standby}) {
      if (!app.got_subcommand(onePort)) continue;
      if (portNames.size() != 1) {
        host.Tell(onePort->get_name() + " needs one --port");
        return cli::ExitUsage;
      }
      options.port = portNames.front();
      CatchSignals();
      if (onePort == verify) return cli::VerifyCommand(options, host, interrupted);
      if (onePort == standby) return cli::StandbyCommand(options, host, interrupted);
      return onePort == chip ? cli::ChipCommand(options, host, interrupted)
                             : cli::LineCheck(options, lineCheckReads, host, interrupted);
    }

    if (portNames.empty()) {
      host.Tell("--port is required for read and write");
      return cli::ExitUsage;
    }
    options.write = app.got_subcommand(write);
    options.backup = options.write && !noBackup;
    if (options.resume && !chosen.Firmware && !chosen.Channel) {
      host.Tell("--resume goes on with a flash dump: give --firmware or --channel");
      return cli::ExitUsage;
    }
    if (options.write && options.fast) {
      if (!options.finalCheck) {
        host.Tell("--fast includes the final check: drop --no-final-check");
        return cli::ExitUsage;
      }
      if (write->get_option("--method")->count() == 0) options.method = "safe";
      options.erasePoll = options.fastProgram = options.skipBlankWords = true;
    }
    // What these options leave out or take on trust only a comparison after the WRITE proves.
    const std::pair<bool, const char*> trusting[] = {{options.skipBlankWords, "--skip-blank-words"},
                                                     {options.erasePoll, "--erase-poll"},
                                                     {options.fastProgram, "--fast-program"}};
    for (const auto& [asked, option] : trusting) {
      if (!asked || options.method == "safe" || options.finalCheck) continue;
      host.Tell(std::string(option) +
                " needs a comparison after the WRITE: --method safe or the final check (drop "
                "--no-final-check)");
      return cli::ExitUsage;
    }
    std::string refusal = cli::BatchRefusal(options, portNames, yes);
    if (!refusal.empty()) {
      host.Tell(refusal);
      return cli::ExitUsage;
    }
    CatchSignals();
    if (portNames.size() > 1) return cli::RunBatch(options, portNames, interrupted);
    options.port = portNames.front();
    cli::ExpandPortInNames(options);
    return cli::RunReadOrWrite(options, host, interrupted);
  }();
  host.MarkExit(status);
  return status;
}
