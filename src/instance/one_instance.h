// TOneInstance: keeps a second copy of the program from running beside the first. The first
// copy holds a system-wide lock named after the executable's file name until it ends; a later
// copy finds it held and, by default, asks the application to terminate.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace instance {

class EOneInstance : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the guard needs of the application and of the component that owns it.
class InstanceHost {
 public:
  virtual ~InstanceHost() = default;
  virtual std::string OwnerName() = 0;
  // True when the owner already holds a guard (the new one is then refused).
  virtual bool OwnerHasGuard() = 0;
  virtual std::string ApplicationTitle() = 0;
  virtual void SetApplicationTitle(const std::string& title) = 0;
  // The message loop ends at the next opportunity.
  virtual void Terminate() = 0;
  // The application's standard error report: a box with the text and an OK button.
  virtual void ShowErrorReport(const std::string& text) = 0;
  // A warning box with an OK button.
  virtual void ShowWarning(const std::string& text) = 0;
  // Brings the top-level window with this caption to the front; false when there is none.
  virtual bool RaiseWindowTitled(const std::string& title) = 0;
};

// The system lock behind the guard; one file per operating system.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
  // Takes the lock if nobody holds it, in one atomic step: true = another copy holds it.
  virtual bool ExistsOrTake(const std::string& name) = 0;
  virtual void Release() = 0;
  virtual bool Held() const = 0;
};
std::unique_ptr<InstanceLock> MakeInstanceLock();

// The executable's file name without its folder, extension kept.
std::string ExecutableFileName();
// Brings another process's top-level window with this caption (or its last active pop-up) to
// the front; false where the system offers no such search or no window has the caption.
bool RaiseTopLevelWindow(const std::string& title);

class TOneInstance {
 public:
  static constexpr const char* TextTerminate =
      "Another instance of this application appears to be running. You must \r\n"
      "close any previous instances before continuing. ";
  static constexpr const char* TextRunning =
      "Another instance of this application appears to be running!";
  static constexpr const char* TextCreateFailed = "Unable to create Mutex!";
  static constexpr const char* TextCloseFailed = "Unable to close Mutex!";
  static constexpr const char* TextVerifyFailed = "Unable to verify that Mutex already exists!";
  static constexpr const char* JoinRaised = " An Exception was raised ";
  static constexpr const char* JoinMessage = "with the message : ";
  static constexpr const char* TextDuplicated = "OneInstance component duplicated in ";

  // Throws std::runtime_error when the owner already holds a guard.
  TOneInstance(InstanceHost& host, std::unique_ptr<InstanceLock> lock = MakeInstanceLock(),
               std::string lockName = ExecutableFileName());
  ~TOneInstance();
  TOneInstance(const TOneInstance&) = delete;
  TOneInstance& operator=(const TOneInstance&) = delete;

  bool Terminate = true;
  bool InformUser = false;
  bool RaisePriorInstance = false;
  std::function<void(TOneInstance* Sender)> ApplicationExists;

  // The check run when the owner's layout has been loaded.
  void Loaded();
  bool OwnsMutex() const { return FOwnsMutex; }

 private:
  void ReportError(const std::string& text);
  void ReportFailure(const std::string& text, const std::exception& caught);
  bool InstanceMutexExists();
  void CreateInstanceMutex();
  void CloseInstanceMutex();
  void RaisePrior();

  InstanceHost& host_;
  std::unique_ptr<InstanceLock> FMutex;
  std::string lockName_;
  bool FOwnsMutex = false;
  std::string FTitle;
};

}  // namespace instance
