#include "support/printed_command.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "support/files.h"

namespace testing_support {

namespace {

constexpr const char* Program = "pyrelink-cli";
// Where a printed command's port points for the real command line's check: nothing is there.
constexpr const char* AbsentPort = "/dev/pyrelink-no-such-port";
constexpr const char* ConnectFailed = "connect failed";
constexpr const char* Subcommands[] = {"read", "write", "verify", "chip", "standby"};

// What the job messages say a command with, and the diagnosis's advice.
constexpr const char* CommandMarks[] = {"write again with: ", "resume the READ with: "};
constexpr const char* AddService = "add --service --baud ";
constexpr const char* UseBaud = "use --baud ";
constexpr const char* LeaveOutService = "leave out --service";

std::string ShellQuoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The words a shell makes of text, by the shell itself; error when it cannot.
std::vector<std::string> ShellWords(const std::string& text, std::string& error) {
  std::FILE* pipe = ::popen(("printf '%s\\0' " + text + " 2>/dev/null").c_str(), "r");
  std::string out;
  char buffer[4096];
  for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = pipe ? ::pclose(pipe) : -1;
  std::vector<std::string> words;
  if (status != 0) {
    error = "a shell cannot take it (status " + std::to_string(status) + ")";
    return words;
  }
  for (size_t start = 0, end; (end = out.find('\0', start)) != std::string::npos; start = end + 1)
    words.push_back(out.substr(start, end - start));
  return words;
}

// The index of the subcommand in arguments, or arguments.size().
size_t SubcommandAt(const std::vector<std::string>& arguments) {
  for (size_t i = 0; i < arguments.size(); ++i)
    for (const char* sub : Subcommands)
      if (arguments[i] == sub) return i;
  return arguments.size();
}

// The command that failed, with the diagnosis's advice applied to its options.
std::vector<std::string> Advised(std::vector<std::string> arguments, bool service,
                                 const std::string& baud) {
  for (size_t i = 0; i < arguments.size();) {
    const bool speed = arguments[i] == "--baud" || arguments[i] == "-b";
    if (arguments[i] == "--service" || (speed && !baud.empty()))
      arguments.erase(arguments.begin() + static_cast<long>(i), arguments.begin() + static_cast<long>(i + (speed ? 2 : 1)));
    else
      ++i;
  }
  std::vector<std::string> added;
  if (service) added.push_back("--service");
  if (!baud.empty()) added.insert(added.end(), {"--baud", baud});
  arguments.insert(arguments.begin() + static_cast<long>(SubcommandAt(arguments)), added.begin(), added.end());
  return arguments;
}

// The word after mark in line up to a space or the end.
std::string WordAfter(const std::string& line, size_t at) {
  const size_t end = line.find_first_of(" ;,.", at);
  return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

}  // namespace

std::string CommandText(const std::vector<std::string>& arguments) {
  std::string text = Program;
  for (const std::string& word : arguments)
    text += " " + (word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./{}") ==
                           std::string::npos
                       ? word
                       : ShellQuoted(word));
  return text;
}

FollowUp PrintedFollowUp(const std::string& messages, const std::vector<std::string>& previous) {
  FollowUp found;
  std::istringstream lines(messages);
  for (std::string line; std::getline(lines, line);) {
    for (const char* mark : CommandMarks) {
      const size_t at = line.find(mark);
      if (at == std::string::npos) continue;
      found = FollowUp{line, {}, ""};
      const std::string command = line.substr(at + std::string(mark).size());
      if (command.rfind(std::string(Program) + " ", 0) != 0) {
        found.Error = "it does not start with " + std::string(Program);
        continue;
      }
      found.Arguments = ShellWords(command.substr(std::string(Program).size()), found.Error);
    }
    size_t at;
    if ((at = line.find(AddService)) != std::string::npos)
      found = FollowUp{line, Advised(previous, true, WordAfter(line, at + std::string(AddService).size())), ""};
    else if ((at = line.find(UseBaud)) != std::string::npos)
      found = FollowUp{line, Advised(previous, true, WordAfter(line, at + std::string(UseBaud).size())), ""};
    else if (line.find(LeaveOutService) != std::string::npos)
      found = FollowUp{line, Advised(previous, false, ""), ""};
  }
  return found;
}

ParsedJob ParseJob(const std::vector<std::string>& arguments) {
  ParsedJob job;
  cli::JobOptions& o = job.Options;
  transfer::JobSelection& s = o.selection;
  bool noBackup = false, methodGiven = false;
  const std::map<std::string, bool*> flags = {
      {"--service", &o.service},         {"--auto", &o.autoConnect},
      {"--verbose", &o.verbose},         {"--checksums", &o.checksums},
      {"--double-read", &o.doubleRead},  {"--resume", &o.resume},
      {"--skip-blank-words", &o.skipBlankWords}, {"--erase-poll", &o.erasePoll},
      {"--fast-program", &o.fastProgram}, {"--fast", &o.fast},
      {"--no-backup", &noBackup}};
  const std::map<std::string, std::string*> values = {
      {"--port", &o.port},       {"-p", &o.port},          {"--baud", &o.baud},
      {"-b", &o.baud},           {"--log", &o.logFile},    {"--report", &o.reportFile},
      {"--method", &o.method},   {"--work-dir", &o.workDir}, {"--backup-dir", &o.backupDir},
      {"--firmware", &s.FirmwareFile}, {"--eeprom", &s.EepromFile}, {"--channel", &s.ChannelFile}};
  std::string retries;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (SubcommandAt({word}) == 0 && job.Subcommand.empty()) {
      job.Subcommand = word;
    } else if (word == "--yes") {
    } else if (word == "--no-final-check") {
      o.finalCheck = false;
    } else if (flags.count(word)) {
      *flags.at(word) = true;
    } else if ((values.count(word) || word == "--retries") && i + 1 < arguments.size()) {
      (word == "--retries" ? retries : *values.at(word)) = arguments[++i];
      s.Firmware |= word == "--firmware";
      s.Eeprom |= word == "--eeprom";
      s.Channel |= word == "--channel";
      methodGiven |= word == "--method";
    } else {
      job.Error = "the sequence cannot run " + word;
      return job;
    }
  }
  if (!retries.empty()) o.retries = std::stoi(retries);
  o.write = job.Subcommand == "write";
  o.backup = o.write && !noBackup;
  if (o.write && o.fast) {
    if (!methodGiven) o.method = "safe";
    o.erasePoll = o.fastProgram = o.skipBlankWords = true;
  }
  if (job.Subcommand.empty()) job.Error = "no subcommand";
  return job;
}

std::string RealCliRefusal(const std::string& cli, const std::vector<std::string>& arguments,
                           const std::string& folder) {
  TempDir scratch;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file())
      std::filesystem::copy_file(entry.path(), scratch.File(entry.path().filename().string()));
  std::string command = "cd " + ShellQuoted(scratch.Path()) + " && exec " + ShellQuoted(cli);
  for (size_t i = 0; i < arguments.size(); ++i) {
    const bool port = i > 0 && (arguments[i - 1] == "--port" || arguments[i - 1] == "-p");
    command += ' ';
    command += ShellQuoted(port ? AbsentPort : arguments[i]);
  }
  const std::string err = scratch.File(".stderr");
  const int status = std::system((command + " </dev/null >/dev/null 2>" + ShellQuoted(err)).c_str());
  const std::string said = ReadFile(err);
  if (WIFEXITED(status) && WEXITSTATUS(status) == cli::ExitJobFailed &&
      said.find(ConnectFailed) != std::string::npos)
    return "";
  return "exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ": " +
         said.substr(0, said.find('\n'));
}

}  // namespace testing_support
