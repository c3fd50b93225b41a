// The files a run makes for itself (its read-back, its merged image, a READ's partial dumps).
// Two runs in one folder may build the same name in the same second: each file is created
// exclusively, and a name already taken gives way to the next free one of the same form.
#pragma once

#include <cstdint>
#include <string>

namespace transfer {

// name with "_n" before its extension: "_2MB_stamp.BIN" and 2 give "_2MB_stamp_2.BIN".
std::string NumberedName(const std::string& name, int n);
// Creates an empty file under name, or else under the first free NumberedName(name, 2, 3, ...),
// never opening one that exists; answers the name created. EFileError when none can be made.
std::string ClaimOwnFile(const std::string& name);

// Creates a folder under name, or else under the first free NumberedName(name, 2, 3, ...);
// answers the name created. EFileError when none can be made.
std::string ClaimOwnFolder(const std::string& name);

// Creates name only when no file of that name exists: true when created, false when one exists;
// EFileError for any other failure.
bool CreateNewFile(const std::string& name);

// A file a run writes over a long time (a READ's partial dump), locked from its creation until
// Release, so that another run can tell it from one left by a run that ended. The lock does
// not keep this process from opening, writing, renaming or removing the file by its name.
class HeldFile {
 public:
  HeldFile() = default;
  ~HeldFile() { Release(); }
  HeldFile(HeldFile&& other) noexcept;
  HeldFile& operator=(HeldFile&& other) noexcept;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  const std::string& Name() const { return name_; }
  // Drops the lock; the file stays as it is.
  void Release() noexcept;

 private:
  friend bool CreateHeldFile(const std::string& name, HeldFile& held);
  static constexpr std::intptr_t NoLock = -1;  // neither a descriptor nor a valid handle
  std::string name_;
  std::intptr_t lock_ = NoLock;
};

// As ClaimOwnFile, and the file created is held until the answer is released.
HeldFile ClaimHeldFile(const std::string& name);
// As CreateNewFile, and the file created is held by held.
bool CreateHeldFile(const std::string& name, HeldFile& held);

enum class LeftFile { None, Removed, Held };
// Removes name when no run holds it (one that ended left it): Removed; Held when a live run
// holds it, which leaves it alone; None when there is no such file. EFileError on failure.
LeftFile RemoveUnlessHeld(const std::string& name);

}  // namespace transfer
