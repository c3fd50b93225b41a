#include "protocol/deco_record.h"

namespace protocol {

void DecoRecord::Forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  findings_ = DecoFindings();
}

void DecoRecord::Found(DecoMode mode, const std::string& evidence) {
  std::lock_guard<std::mutex> lock(mutex_);
  findings_.Found = mode;
  findings_.FoundBy = evidence;
  findings_.Now = DecoMode::ServiceMode;
  findings_.NowWhy.clear();
}

void DecoRecord::Changing(bool flash, bool eeprom) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (flash) {
    findings_.FlashMayBeChanged = true;
    findings_.WholeFlashProven = false;
  }
  if (eeprom) {
    findings_.EepromMayBeChanged = true;
    findings_.EepromProven = false;
  }
  if (flash || eeprom) findings_.ChangesEndedDone = false;
}

void DecoRecord::Proven(bool wholeFlash, bool eeprom) {
  std::lock_guard<std::mutex> lock(mutex_);
  findings_.WholeFlashProven |= wholeFlash;
  findings_.EepromProven |= eeprom;
}

void DecoRecord::ChangesDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  findings_.ChangesEndedDone = true;
}

void DecoRecord::Lost(const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  findings_.Now = DecoMode::Unknown;
  findings_.NowWhy = why;
}

void DecoRecord::AnswersInService() {
  std::lock_guard<std::mutex> lock(mutex_);
  findings_.Now = DecoMode::ServiceMode;
  findings_.NowWhy.clear();
}

void DecoRecord::ExitSent(bool confirmed) {
  std::lock_guard<std::mutex> lock(mutex_);
  findings_.Now = confirmed ? DecoMode::Standby : DecoMode::Unknown;
  findings_.NowWhy = confirmed ? "" : "the exit to standby was sent but not confirmed";
}

DecoFindings DecoRecord::Read() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return findings_;
}

}  // namespace protocol
