// What the command line's own help and usage errors add to its parser's: the options of the
// whole run in each subcommand's help, and for a mistyped word the nearest one it knows.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace cli {

// The candidate nearest to word by edits (a letter added, left out, changed, or two swapped),
// when it is near enough to be a slip of the hand; "" otherwise.
std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates);

// The help lines of the options of app named (long names, with their dashes), under a heading
// that says they may come before or after the subcommand.
std::string RunOptionsHelp(const CLI::App& app, const std::vector<std::string>& names);

// The message for a command line that did not parse: every line starts with the program's
// prefix; a word the parser did not know is answered with the nearest subcommand or option,
// alone, in place of the parser's line.
std::string UsageErrorText(const CLI::App& app, const CLI::Error& error);

}  // namespace cli
