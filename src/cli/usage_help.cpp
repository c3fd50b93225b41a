#include "cli/usage_help.h"

#include <algorithm>

#include "cli/console_host.h"

namespace cli {

namespace {

// A slip of the hand is at most this many edits, and at most one in three letters of the word.
constexpr size_t MostSlips = 2;
constexpr size_t LettersPerSlip = 3;

// Letters added, left out or changed, and neighbours swapped ("raed" is one from "read").
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// Every name of app's options as typed: --long and -s.
void AddOptionNames(const CLI::App& app, std::vector<std::string>& names) {
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    for (const std::string& name : option->get_snames()) names.push_back("-" + name);
  }
}

}  // namespace

std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates) {
  std::string nearest;
  size_t fewest = MostSlips + 1;
  for (const std::string& candidate : candidates) {
    const size_t edits = EditDistance(word, candidate);
    if (edits < fewest) {
      fewest = edits;
      nearest = candidate;
    }
  }
  // A word it knows is no slip: it was given where it does not belong.
  if (fewest == 0 || fewest * LettersPerSlip > word.size()) return "";
  return nearest;
}

std::string RunOptionsHelp(const CLI::App& app, const std::vector<std::string>& names) {
  const CLI::Formatter formatter;
  std::string text = "Options of the whole run, before or after the subcommand:\n";
  for (const std::string& name : names) {
    if (const CLI::Option* option = app.get_option_no_throw(name))
      text += formatter.make_option(option, false);
  }
  return text;
}

std::string UsageErrorText(const CLI::App& app, const CLI::Error& error) {
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  const std::string subcommand = chosen.empty() ? "" : chosen.front()->get_name();
  std::string text = MessagePrefix + std::string(error.what()) + "\n";
  // The words the parser could not place, in the order given: the first is the slip.
  const std::vector<std::string> unplaced = app.remaining(true);
  if (!unplaced.empty()) {
    const std::string word = unplaced.front().substr(0, unplaced.front().find('='));
    std::vector<std::string> candidates;
    std::string what;
    if (word.rfind('-', 0) == 0) {
      AddOptionNames(app, candidates);
      for (const CLI::App* sub : app.get_subcommands([&](const CLI::App* sub) {
             return subcommand.empty() || sub->get_name() == subcommand;
           }))
        AddOptionNames(*sub, candidates);
      what = subcommand.empty() ? "no option" : "no option of " + subcommand;
    } else if (subcommand.empty()) {
      for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        candidates.push_back(sub->get_name());
      what = "no subcommand";
    }
    const std::string nearest = NearestWord(word, candidates);
    // The word meant says more than the parser can: it stands alone.
    if (!nearest.empty())
      text = MessagePrefix + word + " is " + what + ": did you mean " + nearest + "?\n";
  }
  return text + MessagePrefix + "see " + (subcommand.empty() ? "" : subcommand + " ") + "--help\n";
}

}  // namespace cli
