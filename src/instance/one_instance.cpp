#include "instance/one_instance.h"

namespace instance {

TOneInstance::TOneInstance(InstanceHost& host, std::unique_ptr<InstanceLock> lock,
                           std::string lockName)
    : host_(host), FMutex(std::move(lock)), lockName_(std::move(lockName)) {
  if (host_.OwnerHasGuard()) throw std::runtime_error(TextDuplicated + host_.OwnerName());
  Terminate = true;
}

TOneInstance::~TOneInstance() {
  if (FOwnsMutex) {
    CloseInstanceMutex();
  } else {
    RaisePrior();
  }
}

void TOneInstance::ReportError(const std::string& text) {
  try {
    throw EOneInstance(text);
  } catch (const EOneInstance& error) {
    std::string shown = error.what();
    // The standard error report ends a sentence with a full stop.
    if (!shown.empty() && shown.back() > '.') shown += '.';
    host_.ShowErrorReport(shown);
  }
}

void TOneInstance::ReportFailure(const std::string& text, const std::exception& caught) {
  ReportError(text + JoinRaised + JoinMessage + caught.what());
}

bool TOneInstance::InstanceMutexExists() {
  try {
    return FMutex->ExistsOrTake(lockName_);
  } catch (const std::exception& error) {
    ReportFailure(TextVerifyFailed, error);
    return true;
  }
}

void TOneInstance::CreateInstanceMutex() {
  // The existence test already took the lock in the same step: two copies started at the
  // same instant can never both pass it.
  try {
    if (!FMutex->Held() && FMutex->ExistsOrTake(lockName_))
      throw EOneInstance("the lock was taken by another copy");
  } catch (const std::exception& error) {
    ReportFailure(TextCreateFailed, error);
  }
}

void TOneInstance::CloseInstanceMutex() {
  try {
    FMutex->Release();
  } catch (const std::exception& error) {
    ReportFailure(TextCloseFailed, error);
  }
}

void TOneInstance::RaisePrior() {
  if (!RaisePriorInstance || FTitle.empty()) return;
  host_.SetApplicationTitle("");
  if (!RaiseTopLevelWindow(FTitle)) host_.RaiseWindowTitled(FTitle);
}

void TOneInstance::Loaded() {
  FTitle = host_.ApplicationTitle();
  if (InstanceMutexExists()) {
    FOwnsMutex = false;
    if (ApplicationExists) ApplicationExists(this);
    if (Terminate) {
      if (InformUser) ReportError(TextTerminate);
      host_.Terminate();
    } else if (InformUser) {
      host_.ShowWarning(TextRunning);
    }
    return;
  }
  CreateInstanceMutex();
  FOwnsMutex = true;
}

}  // namespace instance
