#include "support/sim_session.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "protocol/flash_map.h"
#include "protocol/service_mode.h"

namespace testing_support {

void StatusRecorder::ShowStatusText(const std::string& line) {
  if (line.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(line);
}

std::vector<std::string> StatusRecorder::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

void StatusRecorder::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

SimSession::SimSession(const sim::Settings& settings) : deco(settings) {
  previousClock_ = protocol::SetClock(&clock);
  protocol::MainWindowHandle = &recorder;
  protocol::BaseTimeout = protocol::StandardBaseTimeout;
  protocol::FillFlashTables();
  protocol::SerialLink = std::make_unique<serial::TBlockSerial>();
  protocol::SerialLink->RaiseExcept = true;
}

SimSession::~SimSession() {
  protocol::SerialLink.reset();
  protocol::MainWindowHandle = nullptr;
  protocol::SetClock(previousClock_);
}

void SimSession::Connect(const std::string& baud, bool standby) {
  protocol::DecoInStandby = standby;
  protocol::EnterServiceMode(deco.SlavePath(), baud);
}

sim::Settings InService(uint32_t baud) {
  sim::Settings settings;
  settings.StartInService = true;
  settings.ServiceBaud = baud;
  return settings;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string AsText(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pyrelink-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace testing_support
