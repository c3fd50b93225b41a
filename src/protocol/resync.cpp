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
// Learning reads at most this many places before it gives up finding two replies alike.
constexpr int MostLearningReads = 8;
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

// The read that learning sends as its index-th.
std::string LearningRead(ReplyKind kind, int index) {
  if (kind == ReplyKind::FlashBlock)
    return FlashBlockCommand(LearningBlocksTop - static_cast<uint32_t>(index) * ReadBlockBytes);
  return EepromLineCommand(1 + index % (EepromLines - 1));
}

// Whether two reads of kind differ where such reads differ, so that a repeated character shows.
bool TellApart(ReplyKind kind, const std::string& a, const std::string& b) {
  if (kind == ReplyKind::FlashBlock) return a != b;
  // The line offset's two digits.
  return a[4] != b[4] && a[5] != b[5];
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
  std::vector<std::pair<std::string, std::string>> samples;
  // Whether every sample so far was answered in its wait: then no reply is still owed.
  bool regular = true;
  bool tooLong = false;  // a reply longer than the table's came
  int reads = 0;
  link.DiscardStaleInput();
  while (reads < MostLearningReads && !limit.Passed()) {
    const std::string command = LearningRead(kind, reads++);
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
      // A reply lost or late: a late one must not pair with the next read's.
      if (heard == Heard::Damaged) ++result.Discarded;
      regular = false;
      samples.clear();
      continue;
    }
    std::optional<ReplyForm> form;
    for (const auto& [earlier, reply] : samples)
      if (!form && TellApart(kind, earlier, command))
        form = SharedForm(kind, earlier, reply, command, line);
    samples.emplace_back(command, line);
    if (!form) continue;
    if (kind == ReplyKind::EepromLine && !form->Echoes()) {
      // Without an echo only silence after the last reply shows that none is still owed.
      std::string late;
      const Heard after = Listen(link, firstByteMs, limit, late);
      if (after != Heard::Silence) {
        ++result.Discarded;
        regular = false;
        samples.clear();
        continue;
      }
    }
    link.LearnForm(kind, *form);
    if (kind == ReplyKind::FlashBlock && !regular) {
      ResyncResult after = Resynchronise(link, command);
      after.Discarded += result.Discarded;
      return after;
    }
    result.InStep = true;
    return result;
  }
  result.Why = "no two of " + std::to_string(reads) + " " + KindName(kind) +
               " read(s) answered alike within " + Seconds(link) + " (" +
               std::to_string(result.Discarded) + " other reply line(s) thrown away)";
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
  auto sendProbe = [&] {
    // Each probe of one resynchronisation asks for another place, so that an earlier probe's
    // late echo is never taken for the last one's.
    for (int tries = 0; tries < EepromLines; ++tries) {
      const int place = link.TakeProbeLine() % EepromLines;
      probe = probeKind == ReplyKind::EepromLine
                  ? EepromLineCommand(place)
                  : FlashBlockCommand(FlashBase + static_cast<uint32_t>(place) * ReadBlockBytes);
      if (probe != failedCommand && std::find(sent.begin(), sent.end(), probe) == sent.end()) break;
    }
    sent.push_back(probe);
    link.SendLine(probe);
  };

  link.Mark("resync", failedCommand.empty() ? "" : "after " + failedCommand);
  link.DiscardStaleInput();
  sendProbe();
  while (!limit.Passed()) {
    std::string line;
    const Heard heard = Listen(link, gapMs, limit, line);
    if (heard == Heard::Damaged) {
      ++result.Discarded;
      continue;
    }
    if (heard == Heard::Silence) {
      if (limit.Passed() || sent.size() >= static_cast<size_t>(EepromLines) - 1) break;
      sendProbe();
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
