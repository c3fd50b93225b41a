#include "protocol/resync.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "protocol/clock.h"
#include "protocol/eeprom_transfer.h"
#include "protocol/flash_map.h"
#include "protocol/hex_codec.h"
#include "protocol/transaction.h"
#include "serial/serial_error.h"

namespace protocol {

namespace {

// A probe unanswered for this many first-byte waits is sent again under another offset: the
// first may have been lost on the line.
constexpr int ProbeGapFactor = 2;
// Learning reads at most this many rounds of three places before it gives up.
constexpr int MostLearningRounds = 8;
// The EEPROM lines of the learning rounds, in turn: line starts only (the reads every deco
// answers), away from line 0 that a job reads first, whose offsets' two digits are not all
// alike in any round, so that a deco repeating either digit shows it in all three replies.
constexpr int LearningLines[][LeastAgreeingReplies] = {{1, 4, 7}, {3, 6, 9}, {10, 13, 15}, {12, 2, 5}};
constexpr int LearningLineSets = sizeof LearningLines / sizeof LearningLines[0];
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

// Listens until a first-byte wait passes in silence (or the limit), throwing away what comes;
// answers how many reply lines (or damaged ones) it threw away.
int DrainUntilQuiet(DecoLink& link, int32_t firstByteMs, const Deadline& limit) {
  int thrown = 0;
  std::string line;
  while (!limit.Passed() && Listen(link, firstByteMs, limit, line) != Heard::Silence) ++thrown;
  return thrown;
}

// The reads of learning round `round`: three EEPROM lines, or three flash blocks from the top.
std::vector<std::string> LearningRound(ReplyKind kind, int round) {
  std::vector<std::string> reads;
  for (size_t i = 0; i < LeastAgreeingReplies; ++i) {
    const auto index = static_cast<uint32_t>(round) * LeastAgreeingReplies + i;
    reads.push_back(kind == ReplyKind::FlashBlock
                        ? FlashBlockCommand(LearningBlocksTop - index * ReadBlockBytes)
                        : EepromLineCommand(LearningLines[round % LearningLineSets][i]));
  }
  return reads;
}

// Whether the replies to reads a and b differ in a character this form's replies repeat, so
// that one is never taken for the other's.
bool EchoTellsApart(const ReplyForm& form, const std::string& a, const std::string& b) {
  for (size_t i = 0; i < form.Rules.size(); ++i)
    if (form.Rules[i] == ReplyForm::Echoed && i < a.size() && i < b.size() && a[i] != b[i])
      return true;
  return false;
}

std::string KindName(ReplyKind kind) {
  return kind == ReplyKind::FlashBlock ? "flash block" : "EEPROM line";
}

std::string Seconds(const DecoLink& link) {
  return std::to_string(ResyncTimeoutFactor * link.BaseTimeout() / 1000) + " s";
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
  return "0610" + ToHex(static_cast<uint32_t>(8 * line), 2) + "080";
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
  const int32_t firstByteMs = ReplyBudgetOf(link, 1).FirstByteMs;
  const Deadline limit(link.Time(), ReplyTimeoutMs(link, ResyncTimeoutFactor));
  ResyncResult result;
  bool tooLong = false;  // a reply longer than the table's came
  bool regular = true;   // every round so far was answered in full and agreed
  int rounds = 0;
  link.DiscardStaleInput();
  while (rounds < MostLearningRounds && !limit.Passed()) {
    const std::vector<std::string> reads = LearningRound(kind, rounds++);
    std::vector<std::string> replies;
    for (const std::string& command : reads) {
      link.SendLine(command);
      std::string line;
      Heard heard;
      // Replies that carry no such data are late ones to earlier commands.
      while ((heard = Listen(link, firstByteMs, limit, line)) == Heard::Reply &&
             !CarriesData(kind, line)) {
        ++result.Discarded;
        tooLong |= line.size() > TableLengthOf(kind);
      }
      if (heard != Heard::Reply) {
        if (heard == Heard::Damaged) ++result.Discarded;
        break;
      }
      replies.push_back(line);
    }
    // A reply lost or late, or one the others do not agree with: the next round, with other
    // places, so that a late reply never pairs with another read.
    std::optional<ReplyForm> form;
    if (replies.size() == reads.size()) form = AgreedForm(kind, reads, replies);
    if (!form) {
      // What the round left owed comes now: thrown away until the line is quiet, so that the
      // next round's replies are its own.
      regular = false;
      result.Discarded += DrainUntilQuiet(link, firstByteMs, limit);
      continue;
    }
    // Without an echo a late reply looks like the next one: where one may still be owed (always
    // for the EEPROM's, whose next reads follow at once; for the flash's after a round that went
    // wrong), only silence after the round shows that none is.
    if (!form->Echoes() && (kind == ReplyKind::EepromLine || !regular)) {
      const int late = DrainUntilQuiet(link, firstByteMs, limit);
      if (late > 0) {
        result.Discarded += late;
        regular = false;
        continue;
      }
    }
    link.LearnForm(kind, *form);
    result.InStep = true;
    return result;
  }
  result.Why = "no " + std::to_string(LeastAgreeingReplies) + " " + KindName(kind) +
               " read(s) of " + std::to_string(rounds) + " round(s) answered alike within " +
               Seconds(link) + " (" + std::to_string(result.Discarded) +
               " other reply line(s) thrown away)";
  if (tooLong)
    result.Why += "; replies longer than the reply table's " +
                  std::to_string(TableLengthOf(kind)) +
                  " characters came, whose extra characters mean nothing known: record the line "
                  "with --trace FILE and send the trace to the maker";
  return result;
}

ResyncResult Resynchronise(DecoLink& link, const std::string& failedCommand) {
  const ReplyForms& forms = link.Forms();
  if (!forms.Eeprom.Learned()) return LearnReplyForm(link, ReplyKind::EepromLine);
  ResyncResult result;
  ReplyKind probeKind = ReplyKind::EepromLine;
  if (!forms.Eeprom.Echoes()) {
    if (ReadKindOf(failedCommand) != ReplyKind::FlashBlock) probeKind = ReplyKind::FlashBlock;
    if (!forms.Flash.Learned() || forms.Flash.Length == forms.Eeprom.Length) {
      result.Why = "this deco does not repeat the EEPROM line read in its reply, and its flash "
                   "replies are not known apart from its EEPROM replies here: a late reply could "
                   "not be told from a probe's, so the read is not repeated";
      return result;
    }
  }
  const ReplyForm& probeForm = forms.Of(probeKind);
  const int32_t gapMs = ProbeGapFactor * ReplyBudgetOf(link, 1).FirstByteMs;
  const Deadline limit(link.Time(), ReplyTimeoutMs(link, ResyncTimeoutFactor));
  std::vector<std::string> sent;
  std::string probe;
  // A late reply to the failed read is of its kind; an EEPROM line's must be told from a probe's.
  const bool failedIsEeprom = ReadKindOf(failedCommand) != ReplyKind::FlashBlock;
  // Whether a probe's reply can be told from every reply still owed: by a repeated character
  // the learning confirmed, against the failed read and every earlier probe; a probe of the
  // other memory by its form.
  auto toldApart = [&](const std::string& candidate) {
    if (probeKind == ReplyKind::FlashBlock)
      return candidate != failedCommand &&
             std::find(sent.begin(), sent.end(), candidate) == sent.end();
    if (failedIsEeprom && !failedCommand.empty() &&
        !EchoTellsApart(probeForm, candidate, failedCommand))
      return false;
    for (const std::string& earlier : sent)
      if (!EchoTellsApart(probeForm, candidate, earlier)) return false;
    return true;
  };
  // False when no place is left whose reply could be told apart: then the line is only listened to.
  auto sendProbe = [&] {
    for (int tries = 0; tries < EepromLines; ++tries) {
      const int place = link.TakeProbeLine() % EepromLines;
      const std::string candidate =
          probeKind == ReplyKind::EepromLine
              ? EepromLineCommand(place)
              : FlashBlockCommand(FlashBase + static_cast<uint32_t>(place) * ReadBlockBytes);
      if (!toldApart(candidate)) continue;
      probe = candidate;
      sent.push_back(probe);
      link.SendLine(probe);
      return true;
    }
    return false;
  };

  link.Mark("resync", failedCommand.empty() ? "" : "after " + failedCommand);
  link.DiscardStaleInput();
  if (!sendProbe()) {
    result.Why = "no EEPROM line read's reply could be told from the late reply to " +
                 failedCommand + " by a character this deco repeats: the line is not brought back "
                 "in step";
    return result;
  }
  bool probing = true;
  while (!limit.Passed()) {
    std::string line;
    const Heard heard = Listen(link, gapMs, limit, line);
    if (heard == Heard::Damaged) {
      ++result.Discarded;
      continue;
    }
    if (heard == Heard::Silence) {
      if (limit.Passed() || sent.size() >= static_cast<size_t>(EepromLines) - 1) break;
      if (probing) probing = sendProbe();
      continue;
    }
    // With an echo only the last probe's reply fits; without one, any probe's reply proves that
    // every reply of the failed read's form has come, and a later probe's is of another form
    // than the read that follows.
    if (FormMismatch(probeForm, probe, line).empty()) {
      result.InStep = true;
      return result;
    }
    ++result.Discarded;
  }
  result.Why = "no reply to " + std::to_string(sent.size()) + " " + KindName(probeKind) +
               " read(s) within " + Seconds(link) + " (" + std::to_string(result.Discarded) +
               " other reply line(s) thrown away)";
  return result;
}

}  // namespace protocol
