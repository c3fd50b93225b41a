#include "protocol/resync.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "protocol/clock.h"
#include "protocol/eeprom_transfer.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/transaction.h"
#include "serial/serial_error.h"

namespace protocol {

namespace {

// A probe unanswered for this many first-byte waits is followed by another, where one can be
// told apart: the first may have been lost on the line.
constexpr int ProbeGapFactor = 2;
// Learning asks at most this many rounds of reads before it gives up.
constexpr int MostLearningRounds = 4;
// An EEPROM read names its place in 16-byte steps; a line starts every eighth.
constexpr int PlaceBytes = 16;
constexpr int PlacesPerLine = EepromLineBytes / PlaceBytes;
constexpr int LastEepromPlace = (EepromBytes - EepromLineBytes) / PlaceBytes;
// The EEPROM places each learning round reads. Within a round each of the offset's two digits
// takes three values, so that an echo of either shows; no place repeats across rounds, so that an
// earlier round's late reply never echoes a later round's read; and none is a line's start, which
// a job's own reads and the first probes ask for.
constexpr int EepromLearningPlaces[MostLearningRounds][AgreeingReplies] = {
    {0x13, 0x25, 0x37}, {0x24, 0x36, 0x41}, {0x35, 0x47, 0x52}, {0x46, 0x51, 0x63}};
// The flash blocks read to learn their replies' form: from the top of the flash down, away from
// the blocks a job's own reads begin with.
constexpr uint32_t LearningBlocksTop = SectorBase[SectorCount] - ReadBlockBytes;

enum class Heard { Reply, Silence, Damaged };

// Waits up to waitMs (and no longer than limit) for the next reply line.
Heard Listen(DecoLink& link, int32_t waitMs, const Deadline& limit, std::string& line) {
  const int32_t left = limit.LeftMs();
  try {
    if (link.ReceiveReply(left < 0 ? waitMs : std::min(waitMs, left),
                          ReplyBudgetOf(link, 1).WholeMs, line))
      return Heard::Reply;
  } catch (const serial::ESerialError& failure) {
    if (!DamagedReply(failure.Code)) throw;
    link.DropHeldInput();
    return Heard::Damaged;
  }
  return Heard::Silence;
}

std::string EepromReadAt(int place) {
  return "0610" + ToHex(static_cast<uint32_t>(place), 2) + "080";
}

std::string KindName(ReplyKind kind) {
  return kind == ReplyKind::FlashBlock ? "flash block" : "EEPROM line";
}

std::string Seconds(const DecoLink& link) {
  return std::to_string(ResyncTimeoutFactor * link.BaseTimeout() / 1000) + " s";
}

// ---- learning ----------------------------------------------------------------------------------

// What learning heard besides the replies it learned from.
struct LearningTally {
  int Discarded = 0;
  int TooLong = 0;
};

// The read that learning sends as the index-th of round.
std::string LearningRead(ReplyKind kind, int round, size_t index) {
  if (kind == ReplyKind::EepromLine) return EepromReadAt(EepromLearningPlaces[round][index]);
  const auto blocksBefore =
      static_cast<uint32_t>(static_cast<size_t>(round) * AgreeingReplies + index);
  return FlashBlockCommand(LearningBlocksTop - blocksBefore * ReadBlockBytes);
}

// Listens until a wait passes in silence; the number of replies (whole or damaged) heard.
int ListenUntilSilence(DecoLink& link, const Deadline& limit) {
  const int32_t firstByteMs = ReplyBudgetOf(link, 1).FirstByteMs;
  int heard = 0;
  std::string line;
  while (!limit.Passed() && Listen(link, firstByteMs, limit, line) != Heard::Silence) ++heard;
  return heard;
}

// The reply to the read just sent, when it comes within its wait and carries kind's data.
std::optional<std::string> AwaitData(DecoLink& link, ReplyKind kind, const Deadline& limit,
                                     LearningTally& tally) {
  const int32_t firstByteMs = ReplyBudgetOf(link, 1).FirstByteMs;
  std::string line;
  for (;;) {
    const Heard heard = Listen(link, firstByteMs, limit, line);
    if (heard == Heard::Damaged) ++tally.Discarded;
    if (heard != Heard::Reply) return std::nullopt;
    if (CarriesData(kind, line)) return line;
    ++tally.Discarded;
    if (LongerThanTable(kind, line)) {
      ++tally.TooLong;
      return std::nullopt;
    }
    // Anything else is a late reply to an earlier command (the connect's, say).
  }
}

// One round of learning reads into samples; true when every read was answered in its wait and
// nothing came after the last, so that no reply is still owed.
bool AskRound(DecoLink& link, ReplyKind kind, int round, const Deadline& limit,
              std::vector<ReplySample>& samples, LearningTally& tally) {
  link.DiscardStaleInput();
  for (size_t index = 0; index < AgreeingReplies; ++index) {
    const std::string command = LearningRead(kind, round, index);
    link.SendLine(command);
    const std::optional<std::string> reply = AwaitData(link, kind, limit, tally);
    if (!reply) {
      tally.Discarded += ListenUntilSilence(link, limit);
      return false;
    }
    samples.push_back({command, *reply});
  }
  const int after = ListenUntilSilence(link, limit);
  tally.Discarded += after;
  return after == 0;
}

std::string NoFormWhy(const DecoLink& link, ReplyKind kind, int rounds,
                      const LearningTally& tally) {
  std::string why = "no " + std::to_string(AgreeingReplies) + " " + KindName(kind) +
                    " reads were answered alike and in step (" + std::to_string(rounds) +
                    " round(s) within " + Seconds(link) + ", " + std::to_string(tally.Discarded) +
                    " other reply line(s) thrown away)";
  if (tally.TooLong > 0)
    why += "; " + std::to_string(tally.TooLong) + " reply line(s) " + LongerThanTableNote(kind);
  return why;
}

// ---- resynchronisation ------------------------------------------------------------------------

// How a resynchronisation's probes are told from every reply still owed: by an echo (several
// probes, each differing from the earlier ones) or by the other memory's reply length (one probe).
struct ProbeWay {
  ReplyKind Kind;
  bool ByEcho;
};

std::optional<ProbeWay> WayToProbe(const ReplyForms& forms, const std::string& failedCommand) {
  if (forms.Eeprom.Echoes()) return ProbeWay{ReplyKind::EepromLine, true};
  const ReplyKind other = ReadKindOf(failedCommand) == ReplyKind::FlashBlock
                              ? ReplyKind::EepromLine
                              : ReplyKind::FlashBlock;
  if (!forms.Of(other).Learned()) return std::nullopt;
  return ProbeWay{other, false};
}

// The characters every learning reply echoed in which probe differs from every read in owed.
int TellingCharacters(const ReplyForm& form, const std::string& probe,
                      const std::vector<std::string>& owed) {
  int telling = 0;
  for (size_t at = 0; at < form.Rules.size(); ++at) {
    if (form.Rules[at] != ReplyForm::Echoed) continue;
    const bool differs = std::all_of(owed.begin(), owed.end(), [&](const std::string& read) {
      return at >= read.size() || read[at] != probe[at];
    });
    if (differs) ++telling;
  }
  return telling;
}

// The EEPROM read, from place start on, that differs from every read in owed in the most echoed
// characters; nullopt when none differs in any.
std::optional<std::string> EchoProbe(const ReplyForm& form, int start,
                                     const std::vector<std::string>& owed) {
  std::optional<std::string> best;
  int bestTelling = 0;
  for (int step = 0; step <= LastEepromPlace; ++step) {
    const std::string probe = EepromReadAt((start + step) % (LastEepromPlace + 1));
    const int telling = TellingCharacters(form, probe, owed);
    if (telling > bestTelling) {
      bestTelling = telling;
      best = probe;
    }
  }
  return best;
}

// A read of the other memory than the failed one, never the failed read itself.
std::string OtherMemoryProbe(ReplyKind kind, int line, const std::string& failedCommand) {
  for (;; ++line) {
    const int place = line % EepromLines;
    const std::string probe =
        kind == ReplyKind::EepromLine
            ? EepromLineCommand(place)
            : FlashBlockCommand(FlashBase + static_cast<uint32_t>(place) * ReadBlockBytes);
    if (probe != failedCommand) return probe;
  }
}

std::string NoWayWhy() {
  return "this deco's EEPROM line replies were not seen to repeat the read (" +
         std::to_string(AgreeingReplies) +
         " replies must agree), and its flash replies are not known here: a late reply could "
         "not be told from a probe's, so the line is not brought back in step";
}

}  // namespace

bool DamagedReply(int32_t code) {
  switch (code) {
    case serial::ErrTimeout:
    case serial::ErrMaxBuffer:
    case serial::ErrFrame:
    case serial::ErrOverrun:
    case serial::ErrRxOver:
    case serial::ErrRxParity:
      return true;
    default:
      return false;
  }
}

std::string EepromLineCommand(int line) {
  return EepromReadAt(PlacesPerLine * line);
}

std::string NextProbe(DecoLink& link) {
  return EepromLineCommand(link.TakeProbeLine() % EepromLines);
}

std::string DiscardedNote(const ResyncResult& result) {
  if (result.Discarded == 0) return "";
  return "Line back in step: " + std::to_string(result.Discarded) +
         " late reply line(s) thrown away.";
}

ResyncResult LearnReplyForm(DecoLink& link, ReplyKind kind) {
  const Deadline limit(link.Time(), ReplyTimeoutMs(link, ResyncTimeoutFactor));
  LearningTally tally;
  ResyncResult result;
  int rounds = 0;
  while (rounds < MostLearningRounds && !limit.Passed()) {
    std::vector<ReplySample> samples;
    if (!AskRound(link, kind, rounds++, limit, samples, tally)) continue;
    const std::optional<ReplyForm> form = AgreedForm(kind, samples);
    if (!form) continue;
    link.LearnForm(kind, *form);
    result.InStep = true;
    result.Discarded = tally.Discarded;
    return result;
  }
  result.Discarded = tally.Discarded;
  result.Why = NoFormWhy(link, kind, rounds, tally);
  return result;
}

ResyncResult Resynchronise(DecoLink& link, const std::string& failedCommand) {
  const ReplyForms& forms = link.Forms();
  if (!forms.Eeprom.Learned()) return LearnReplyForm(link, ReplyKind::EepromLine);
  ResyncResult result;
  const std::optional<ProbeWay> way = WayToProbe(forms, failedCommand);
  if (!way) {
    result.Why = NoWayWhy();
    return result;
  }
  const ReplyForm& probeForm = forms.Of(way->Kind);
  // The reads whose replies may still come, besides the latest probe's.
  std::vector<std::string> owed;
  if (ReadKindOf(failedCommand) == way->Kind) owed.push_back(failedCommand);
  const int start = link.TakeProbeLine() % EepromLines;
  std::optional<std::string> probe = way->ByEcho
                                         ? EchoProbe(probeForm, PlacesPerLine * start, owed)
                                         : OtherMemoryProbe(way->Kind, start, failedCommand);
  if (!probe) {
    result.Why = "no EEPROM read differs from " + failedCommand +
                 " in a character this deco's replies were seen to repeat";
    return result;
  }

  const int32_t gapMs = ProbeGapFactor * ReplyBudgetOf(link, 1).FirstByteMs;
  const Deadline limit(link.Time(), ReplyTimeoutMs(link, ResyncTimeoutFactor));
  int sent = 1;
  link.Mark("resync", failedCommand.empty() ? "" : "after " + failedCommand);
  link.DiscardStaleInput();
  link.SendLine(*probe);
  while (!limit.Passed()) {
    std::string line;
    const Heard heard = Listen(link, gapMs, limit, line);
    if (heard == Heard::Reply && FormMismatch(way->Kind, probeForm, *probe, line).empty()) {
      result.InStep = true;
      return result;
    }
    if (heard != Heard::Silence) {
      ++result.Discarded;
      continue;
    }
    // Another probe only where its reply can be told from every one still owed, this one's too.
    if (!way->ByEcho) continue;
    std::vector<std::string> owedAfter = owed;
    owedAfter.push_back(*probe);
    const std::optional<std::string> next =
        EchoProbe(probeForm, PlacesPerLine * (link.TakeProbeLine() % EepromLines), owedAfter);
    if (!next) continue;
    owed = std::move(owedAfter);
    probe = next;
    ++sent;
    link.SendLine(*probe);
  }
  result.Why = "no reply to " + std::to_string(sent) + " " + KindName(way->Kind) +
               " read(s) within " + Seconds(link) + " (" + std::to_string(result.Discarded) +
               " other reply line(s) thrown away)";
  return result;
}

}  // namespace protocol
