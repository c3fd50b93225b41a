// What the worker asks of the system for its own thread; one file per operating system.
#pragma once

namespace transfer {

// Names the calling thread for debuggers and system tools, cut to what the system allows.
void NameThisThread(const char* name);
// One step above normal priority where the system lets us; without the right it stays normal.
void RaiseThisThreadAboveNormal();

}  // namespace transfer
