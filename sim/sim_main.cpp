// pyrelink-sim: a simulated 607X deco on a pseudo-terminal. Prints the port path on its first
// line, announces the port for the port lists, and serves until stdin closes or it is killed.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "pyrelink_version.h"
#include "serial/announced_ports.h"
#include "sim/pty_deco.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void OnSignal(int) { stopRequested = 1; }

bool LoadImage(const std::string& path, size_t size, std::vector<uint8_t>& image) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "pyrelink-sim: cannot read " << path << ": " << std::strerror(errno) << "\n";
    return false;
  }
  image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (image.size() != size) {
    std::cerr << "pyrelink-sim: " << path << " has " << image.size() << " bytes, expected "
              << size << "\n";
    return false;
  }
  return true;
}

bool SaveImage(const std::string& path, const std::vector<uint8_t>& image) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out) {
    std::cerr << "pyrelink-sim: cannot write " << path << ": " << std::strerror(errno) << "\n";
    return false;
  }
  return true;
}

// Waits for stdin to close or a signal; stdin may also be held open by a pipe nobody writes.
void WaitForEnd(bool ignoreStdin) {
  char buffer[256];
  while (!stopRequested) {
    if (ignoreStdin) {
      pause();
      continue;
    }
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0) return;
    if (n < 0 && errno != EINTR) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated 607X deco on a pseudo-terminal"};
  app.set_version_flag("--version", std::string("pyrelink-sim ") + PyrelinkVersion);
  sim::Settings settings;
  bool isProtected = false;
  std::string flashFile, eepromFile, saveFlash, saveEeprom;
  bool ignoreStdin = false;
  app.add_option("--model", settings.Model, "Model text answered to VORTANE");
  app.add_flag("--protected", isProtected, "Answer as the model with protected sector 18");
  app.add_option("--service-baud", settings.ServiceBaud, "Speed of the last speed switch")
      ->check(CLI::IsMember({9600, 38400, 115200}));
  app.add_flag("--in-service", settings.StartInService, "Start in service mode (-SE-)");
  app.add_option("--flash", flashFile, "Start with this 2 MB flash image");
  app.add_option("--eeprom", eepromFile, "Start with this 2 KB EEPROM image");
  app.add_option("--save-flash", saveFlash, "Save the flash here on exit");
  app.add_option("--save-eeprom", saveEeprom, "Save the EEPROM here on exit");
  auto& f = settings.Fault;
  app.add_option("--drop-reply", f.DropReplyAt, "No reply to the n-th command");
  app.add_option("--garbage-reply", f.GarbageReplyAt, "Garbage reply to the n-th command");
  app.add_option("--short-reply", f.ShortReplyAt, "Short reply to the n-th command");
  app.add_option("--lower-case-reply", f.LowerCaseReplyAt, "Lower-case reply to the n-th command");
  app.add_option("--trickle", f.TrickleAt, "Trickle bytes without CR at the n-th command");
  app.add_option("--corrupt-reply", f.CorruptReplyAt,
                 "A two-bit error (parity still right) in the n-th command's reply");
  app.add_option("--corrupt-replies", f.CorruptReplyCount,
                 "... and in this many replies from there on, each in another digit");
  app.add_option("--hang-up-after", f.HangUpAfter, "Close the line after n commands");
  app.add_option("--weak-word", f.WeakWordAddress, "Flash address whose word ignores programming")
      ->transform([](std::string text) { return std::to_string(std::stoul(text, nullptr, 0)); });
  app.add_option("--weak-failures", f.WeakWordFailures, "How often the weak word ignores it");
  app.add_option("--slow-reply", f.SlowReplyMs, "Pause in ms before every reply");
  app.add_option("--slow-reply-at", f.SlowReplyAt, "Only the n-th command's reply is slow");
  app.add_option("--erase-busy", f.EraseBusyMs,
                 "After a sector erase, ignore program cycles for this many ms");
  std::string chip = settings.Chip.Name;
  std::vector<std::string> chipNames;
  for (const sim::ChipPart& part : sim::ChipParts) chipNames.push_back(part.Name);
  app.add_option("--chip", chip,
                 "The two flash chips: am29lv800bb (unlock bypass), am29f800bb (none), unknown "
                 "(codes no tool knows)")
      ->check(CLI::IsMember(chipNames))
      ->capture_default_str();
  app.add_option("--erase-time", settings.EraseTimeMs,
                 "A sector erase takes this many ms; meanwhile reads answer status bits");
  app.add_option("--early-blank-reads", f.EarlyBlankReads,
                 "While a sector erases (--erase-time), its first n reads answer all FF as if done");
  std::string upperHighByte = "reversed";
  app.add_option("--upper-high-byte", upperHighByte,
                 "How the upper chip's high data byte is wired: reversed, like its low byte, or "
                 "straight")
      ->check(CLI::IsMember({"reversed", "straight"}))
      ->capture_default_str();
  app.add_flag("--bypass-ignored", f.BypassIgnored,
               "The chips enter unlock bypass, but its programming never takes");
  app.add_flag("--crlf", f.CrLfEndings, "End replies with CR LF instead of CR");
  bool noEcho = false;
  app.add_flag("--no-echo", noEcho,
               std::string("Begin an EEPROM line's reply with a fixed head (\"") + sim::NoEchoHead +
                   "\" unless --eeprom-head) instead of the read's first seven characters");
  app.add_option("--eeprom-head", settings.EepromHead,
                 "With --no-echo: the seven characters every EEPROM line's reply begins with")
      ->check([](const std::string& head) {
        return head.size() == 7 ? std::string() : std::string("the head has 7 characters");
      });
  app.add_option("--noise-before-reply", f.NoiseBeforeReplyAt,
                 "Noise characters (parity right) before the n-th command's reply");
  app.add_option("--noise-characters", f.NoiseCharacters, "... this many of them")
      ->check(CLI::Range(1, 3))
      ->capture_default_str();
  app.add_flag("--noise-before-every-reply", f.NoiseBeforeEveryReply,
               "The noise characters before every reply");
  int noiseByte = 0;
  app.add_option("--noise-byte", noiseByte,
                 "The noise character's value, 1-255 (with bit 7 set: a spike on the line); "
                 "hex digits that vary when not given")
      ->check(CLI::Range(1, 255));
  app.add_option("--other-line-reply", f.OtherLineReplyAt,
                 "Answer the n-th command, an EEPROM line read, with the next line's reply");
  app.add_option("--pause-mid-reply", f.PauseMidReplyAt,
                 "The n-th command's reply stops halfway (--pause-mid-reply-ms)");
  app.add_option("--pause-mid-reply-ms", f.PauseMidReplyMs, "... for this many ms")
      ->capture_default_str();
  app.add_option("--restart-at", f.RestartAt,
                 "A power glitch on the n-th command: no reply, back in standby at 9600, chips "
                 "reading, a sector being erased left partly erased");
  app.add_flag("--pace", f.Pace, "Deliver at the real line speed (10 bits per character)");
  app.add_option("--adapter-latency", settings.AdapterLatencyMs,
                 "Hold a reply's last partial 62-byte packet back this many ms, as a USB "
                 "adapter's latency timer does");
  sim::RandomFaultSettings& random = settings.Random;
  auto* randomFaults =
      app.add_option("--random-faults", random.Seed,
                     "Faults drawn per command from this seed: late, dropped, garbage and "
                     "wrong-data replies, hang-ups, deaf periods, erases running on after one "
                     "early blank read, chips left in a chip mode, restarts, another EEPROM "
                     "line's reply, replies pausing mid-line, noise before a reply");
  app.add_option("--fault-every", random.FaultEvery,
                 "With --random-faults: on average one command in this many meets a fault")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  bool noWrongData = false, noGlitches = false;
  app.add_flag("--no-wrong-data", noWrongData,
               "With --random-faults: no replies with well-formed wrong data");
  app.add_flag("--no-glitches", noGlitches,
               "With --random-faults: no restarts, other lines' replies, pauses mid-line or "
               "noise, as seeds drew before those existed");
  app.add_option("--time-divisor", random.TimeDivisor,
                 "With --random-faults: late replies and pauses mid-line come this many times "
                 "sooner, for a tool whose reply time-outs are divided the same")
      ->check(CLI::PositiveNumber);
  std::string replayFile;
  double replaySpeed = 1;
  app.add_option("--replay", replayFile,
                 "Answer as the deco of this line trace (pyrelink-cli --trace) did: each command "
                 "with its recorded reply, never later than the tool read it, and only at the "
                 "speed the trace heard it at; a command the trace does not hold next ends the "
                 "answers, saying where");
  app.add_option("--replay-speed", replaySpeed, "With --replay: turn around this many times faster")
      ->check(CLI::PositiveNumber);
  bool noAnnounce = false;
  app.add_flag("--no-announce", noAnnounce, "Do not list the port for the port lists");
  app.add_flag("--ignore-stdin", ignoreStdin, "Serve until killed, whatever stdin does");
  CLI11_PARSE(app, argc, argv);
  if (isProtected && !app.count("--model")) settings.Model = sim::ProtectedModel;
  settings.Chip = *sim::FindChipPart(chip);
  settings.UpperHighByteReversed = upperHighByte == "reversed";
  random.On = randomFaults->count() > 0;
  if (!replayFile.empty()) {
    try {
      settings.Replayed = std::make_shared<sim::Replay>(replayFile, replaySpeed);
      for (const std::string& line : settings.Replayed->Describe(replayFile))
        std::cerr << "pyrelink-sim: " << line << "\n";
    } catch (const std::exception& error) {
      std::cerr << "pyrelink-sim: " << error.what() << "\n";
      return 2;
    }
  }
  random.WrongData = !noWrongData;
  random.GlitchesAndNoise = !noGlitches;
  settings.EchoEepromRead = !noEcho;
  f.NoiseByte = static_cast<uint8_t>(noiseByte);
  const bool announce = !noAnnounce;

  std::vector<uint8_t> flash, eeprom;
  if (!flashFile.empty() && !LoadImage(flashFile, sim::FlashSize, flash)) return 2;
  if (!eepromFile.empty() && !LoadImage(eepromFile, sim::EepromSize, eeprom)) return 2;

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);

  try {
    sim::PtyDeco deco(settings);
    if (!flash.empty()) deco.Model().SetFlash(flash);
    if (!eeprom.empty()) deco.Model().SetEeprom(eeprom);
    std::string announcement = announce ? serial::AnnouncePort(deco.SlavePath()) : "";
    std::cout << deco.SlavePath() << std::endl;
    WaitForEnd(ignoreStdin);
    serial::WithdrawPort(announcement);
    deco.Stop();
    bool saved = true;
    if (!saveFlash.empty()) saved = SaveImage(saveFlash, deco.Model().Flash()) && saved;
    if (!saveEeprom.empty()) saved = SaveImage(saveEeprom, deco.Model().Eeprom()) && saved;
    return saved ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "pyrelink-sim: " << error.what() << "\n";
    return 1;
  }
}
