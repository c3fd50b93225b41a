// TForm1's calls into the engine (protocol::, transfer::), kept apart so that a change of the
// engine's interface is met in one file.
#include "window/main_window.h"

#include "protocol/service_mode.h"
#include "protocol/transaction.h"
#include "serial/port_list.h"
#include "serial/serial_util.h"
#include "transfer/adapter_delay.h"
#include "transfer/connection.h"
#include "transfer/time_stamp.h"

namespace window {

namespace {
// A failed block read is asked again, as the command line's default does.
const protocol::ReadPolicy WindowReads{transfer::DefaultReadRetries};
}  // namespace

void TForm1::ResetEngineState() {
  plan_ = transfer::JobPlan();
  link_.SetBaseTimeout(protocol::StandardBaseTimeout);
  link_.Close();
  names_ = transfer::TimeStampedNames(transfer::LocalTimeStamp());
}

void TForm1::ReleaseEngine() {
  link_.SetStatusSink(nullptr);
}

std::vector<std::string> TForm1::PortNames() {
  std::vector<std::string> ports;
  serial::SplitList(serial::ListSerialPorts(), ',', ports);
  return ports;
}

void TForm1::SetLinkDefaults() {
  link_.SetBaseTimeout(protocol::StandardBaseTimeout);
  link_.SetReadPolicy(WindowReads);
}

bool TForm1::OpenLink(const std::string& port, const std::string& baud, bool decoInStandby,
                      transfer::ConnectError& error) {
  const transfer::ConnectResult connect = transfer::ConnectDeco(link_, port, baud, decoInStandby);
  deco_ = connect.Deco;
  error = connect.Error;
  return connect.Connected;
}

void TForm1::CloseLink() {
  transfer::EndSession(link_, transfer::ExitBy::UserAsked);
}

bool TForm1::FlashMayBeHalfWritten() const {
  return transfer::FlashMayBeHalfWritten(link_.Record().Read());
}

std::string TForm1::DecoLostWhy() const {
  const protocol::DecoFindings deco = link_.Record().Read();
  return deco.Now == protocol::DecoMode::Unknown ? deco.NowWhy : "";
}

void TForm1::AskLostDeco() {
  transfer::AskLostDeco(link_);
}

void TForm1::DropLink() {
  link_.Close();
}

bool TForm1::LinkOpen() const {
  return link_.IsOpen();
}

std::string TForm1::LinkSpeed() const {
  if (!link_.IsOpen()) return "";
  return " at " + std::to_string(link_.Speed()) + " baud";
}

bool TForm1::WritingFlash() const {
  return FWorker && FWorker->FlashWriteActive();
}

bool TForm1::WriteJobRuns() const {
  return plan_.IsWriteJob;
}

std::string TForm1::LastStatusLine() const {
  return link_.StatusText();
}

void TForm1::Pause(unsigned seconds) {
  protocol::WaitSeconds(link_, seconds);
}

bool TForm1::AcceptRead(const transfer::JobSelection& selection) {
  if (!transfer::CheckReadFiles(selection, *this) ||
      !transfer::AskReadOverwrites(selection, *this))
    return false;
  // Each dump is read into FILE.partial and named only when whole: a READ that fails never
  // replaces a good dump with a shortened one.
  dumps_.emplace(selection);
  std::string error;
  if (dumps_->Claim(*this, error)) return true;
  dumps_.reset();
  return false;
}

void TForm1::SetReadJob() {
  plan_ = transfer::ReadJobPlan(dumps_->Partial());
}

void TForm1::PutJobFilesInPlace() {
  if (!FWorker || jobFilesTold_) return;
  jobFilesTold_ = true;
  const transfer::JobResult result = FWorker->Result();
  const std::string backup = transfer::BackupLine(result.BackupFolder, result.BackupNotMade);
  if (!backup.empty()) AddLogLine(backup);
  if (!dumps_) return;
  try {
    if (result.End == transfer::JobEnd::Done) {
      dumps_->NameComplete(dumpsChosen_, *this);
    } else {
      for (const std::string& named : dumps_->NameComplete(result.ReadInFull, *this))
        AddLogLine("The READ did not finish, but " + named + " was read in full and is in place.");
      dumps_->TellWhereTheyAre(*this);
    }
  } catch (const std::exception& failure) {
    AddLogLine(failure.what());
  }
  dumps_->Release();
  dumps_.reset();
}

bool TForm1::AcceptWrite(const transfer::JobSelection& selection, transfer::WriteMethod method) {
  return transfer::CheckWriteFiles(selection, method, names_, *this);
}

void TForm1::SetWriteJob(const transfer::JobSelection& selection, transfer::WriteMethod method) {
  plan_ = transfer::WriteJobPlan(selection, method, names_, *this);
}

void TForm1::StartWorker(const transfer::JobSelection& selection) {
  plan_.Block18Protected = deco_.Block18Protected;
  plan_.Reads = WindowReads;
  if (plan_.IsWriteJob) {
    // The deco as it was, before anything is changed, as the command line keeps it.
    plan_.BackupFolder = names_.BackupFolderName;
  } else {
    dumpsChosen_ = selection;
  }
  jobFilesTold_ = false;
  // A line that holds every reply back is said once, before the first job it slows.
  if (!heldBackTold_) {
    const std::vector<std::string> held = transfer::HeldBackReplyLines(link_, plan_);
    for (const std::string& line : held) AddLogLine(line);
    heldBackTold_ = !held.empty();
  }
  // A trace of the window's line says which job it holds, as the command line's does.
  std::string job = plan_.IsWriteJob ? "window WRITE (" + MethodName() + ")" : "window READ";
  for (const std::string& file : transfer::TickedFiles(selection)) job += " " + file;
  link_.Mark("job", job);
  FWorker = std::make_unique<transfer::TIOThread>(*this, link_, plan_);
  workerEndTold_ = false;
  view_.WatchWorker(true);
  FWorker->Resume();
}

}  // namespace window
