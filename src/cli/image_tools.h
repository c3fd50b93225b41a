// The offline commands: what an image file is, the comparison the write methods use, and the
// window's channel insertion and extraction. No deco is needed; each reuses the engine's code.
#pragma once

#include <string>
#include <vector>

#include "cli/console_host.h"

namespace cli {

// Kind, size and SHA-256 of each file, and for flash images a table of sectors. 0 when every
// file is a Pyrelink image, 1 when one is not, 2 when one cannot be read.
int InfoCommand(const std::vector<std::string>& files, ConsoleHost& host);
// What a flash image is compared as: its own bytes, or what a write of it leaves in the flash
// (sectors 0-2 erased with the zero words, the image's bytes from sector 3 on).
enum class DiffAs { Image, Written };
// 0 equal, 1 different (or not all compared), 2 on error.
int DiffCommand(const std::string& image, const std::string& readBack, bool isProtected,
                ConsoleHost& host, DiffAs as = DiffAs::Image);
// 0 done, 1 when the user keeps an existing output, 2 on error.
int MergeCommand(const std::string& channel, const std::string& firmware, const std::string& output,
                 ConsoleHost& host);
int ExtractCommand(const std::string& firmware, const std::string& channel, ConsoleHost& host);

}  // namespace cli
