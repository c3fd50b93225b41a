// The files a run makes for itself (its read-back, its merged image, a READ's partial dumps).
// Two runs in one folder may build the same name in the same second: each file is created
// exclusively, and a name already taken gives way to the next free one of the same form.
#pragma once

#include <string>

namespace transfer {

// name with "_n" before its extension: "_2MB_stamp.BIN" and 2 give "_2MB_stamp_2.BIN".
std::string NumberedName(const std::string& name, int n);
// Creates an empty file under name, or else under the first free NumberedName(name, 2, 3, ...),
// never opening one that exists; answers the name created. EFileError when none can be made.
std::string ClaimOwnFile(const std::string& name);

// Creates name only when no file of that name exists: true when created, false when one exists;
// EFileError for any other failure.
bool CreateNewFile(const std::string& name);

}  // namespace transfer
