// What a run knows of its deco, gathered as the facts arrive: how the connect found it and by
// which evidence, which memories the run may have changed, which it proved, and what the deco is
// in now. The connect, the job and its final check, and a verify fill it; one function
// (transfer::MayLeaveServiceMode) reads it. Nothing typed by the user goes in unchecked: the
// connect records what the deco's answers showed.
#pragma once

#include <mutex>
#include <string>

namespace protocol {

enum class DecoMode { Unknown, Standby, ServiceMode };

struct DecoFindings {
  // How the connect found the deco, and what showed it ("the options say so", "--auto's read
  // at 9600 baud was answered", ...).
  DecoMode Found = DecoMode::Unknown;
  std::string FoundBy;
  // What the deco is in now, as far as the run knows; Unknown after a lost line, a deco that
  // stopped answering, or an exit to standby that was sent but not confirmed.
  DecoMode Now = DecoMode::Unknown;
  std::string NowWhy;
  // The run has sent, or may have sent, what changes these memories (the channel list is part
  // of the flash).
  bool FlashMayBeChanged = false;
  bool EepromMayBeChanged = false;
  // Read back or verified equal to a file since the last change: the whole flash (sector 18 of
  // a model that protects it aside), the EEPROM.
  bool WholeFlashProven = false;
  bool EepromProven = false;
  // The job that made the changes ended with every step it promises done.
  bool ChangesEndedDone = false;
};

class DecoRecord {
 public:
  // A new connect: nothing known yet.
  void Forget();
  // The connect reached the deco, found in mode, as evidence shows; it is in service mode now.
  void Found(DecoMode mode, const std::string& evidence);
  // What changes these memories is about to be sent: their proofs no longer hold.
  void Changing(bool flash, bool eeprom);
  // Read back or verified equal to a file.
  void Proven(bool wholeFlash, bool eeprom);
  // The job that made the changes ended with every step done.
  void ChangesDone();
  // The run no longer knows what the deco is in, and why.
  void Lost(const std::string& why);
  // A deco the run had lost answered in service mode again.
  void AnswersInService();
  // The exit to standby was sent: confirmed, or not (then the state is unknown).
  void ExitSent(bool confirmed);

  DecoFindings Read() const;

 private:
  mutable std::mutex mutex_;
  DecoFindings findings_;
};

}  // namespace protocol
