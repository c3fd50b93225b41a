#include "cli/chip_command.h"

#include "cli/cli_connect.h"
#include "transfer/connection.h"

namespace cli {

std::vector<std::string> ChipLines(const protocol::FlashChips& chips) {
  auto chip = [](const char* which, const protocol::ChipCodes& codes) {
    std::string text = protocol::CodesText(codes);
    return std::string(which) + " flash chip: manufacturer " +
           text.replace(text.find(' '), 1, ", device ");
  };
  std::vector<std::string> lines{chip("Lower", chips.Lower), chip("Upper", chips.Upper)};
  if (chips.UpperHighByte) {
    const protocol::HighByteWiring wiring = *chips.UpperHighByte;
    lines.push_back(std::string("Upper flash chip's high data byte: wired ") +
                    (wiring == protocol::HighByteWiring::Either
                         ? "either way (these codes read the same both ways)"
                         : protocol::WiringName(wiring)));
  }
  if (chips.Part) {
    lines.push_back(std::string("Flash part: ") + chips.Part->Name +
                    " (8 Mbit, bottom boot), two side by side; unlock bypass: " +
                    (chips.Part->UnlockBypass ? "yes" : "no"));
  } else if (!chips.UpperHighByte) {
    lines.push_back("Flash part: unknown, the two chips answer different codes");
  } else {
    lines.push_back("Flash part: unknown, not a common 8-Mbit bottom-boot part");
  }
  return lines;
}

int ChipCommand(const JobOptions& options, ConsoleHost& host,
                protocol::StopToken stop) {
  protocol::DecoLink link(&host, RunClock(options));
  JobOptions run;  // as the connect found the deco
  protocol::DecoFacts deco;
  if (!ConnectOneDeco(link, options, host, stop, run, deco)) return ExitJobFailed;
  int result = ExitDone;
  try {
    // Chips a cut-off job left in bypass would not hear the identification.
    protocol::ReturnChipsToRead(link);
    for (const std::string& line : ChipLines(protocol::IdentifyFlashChips(link)))
      host.AddLogLine(line);
  } catch (const std::exception& failure) {
    host.Tell(std::string("the flash chips could not be identified: ") + failure.what());
    transfer::RecordIfDecoLost(link, failure);
    host.Tell("they may still be in identification mode: the next READ or WRITE of the flash "
              "returns them to reading first");
    result = ExitJobFailed;
  }
  return DisconnectFromCli(link, run, host, result);
}

bool ChooseFastProgram(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
                       protocol::FlashChips& chips) {
  chips = protocol::IdentifyFlashChips(link);
  for (const std::string& line : ChipLines(chips)) host.AddLogLine(line);
  if (!options.fastProgram) return false;
  const std::string usual = "; the words are programmed the usual way.";
  if (!chips.Part) {
    host.AddLogLine("Fast programming not used: the flash part is not known" + usual);
    return false;
  }
  if (!chips.Part->UnlockBypass) {
    host.AddLogLine(std::string("Fast programming not used: ") + chips.Part->Name +
                    " has no unlock bypass" + usual);
    return false;
  }
  host.AddLogLine("Fast programming: words are programmed in unlock bypass.");
  return true;
}

}  // namespace cli
