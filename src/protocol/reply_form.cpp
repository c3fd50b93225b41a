#include "protocol/reply_form.h"

#include <vector>

#include "protocol/deco_link.h"
#include "protocol/hex_codec.h"
#include "protocol/protocol_error.h"

namespace protocol {

namespace {

constexpr size_t FlashDataStart = 3;
constexpr size_t EepromDataStart = 7;
constexpr const char* FlashReadPrefix = "0221FF";
constexpr size_t FlashReadLength = 14;
constexpr const char* EepromReadPrefix = "0610";
constexpr size_t EepromReadLength = 9;

std::string KindName(ReplyKind kind) {
  return kind == ReplyKind::FlashBlock ? "a flash block's" : "an EEPROM line's";
}

// The rule the samples agree on for their character at.
char AgreedRule(const std::vector<ReplySample>& samples, size_t at) {
  std::string commandCharacters;
  bool commandsDiffer = true, allEcho = true, allSame = true;
  for (const ReplySample& sample : samples) {
    const bool inCommand = at < sample.Command.size();
    const char asked = inCommand ? sample.Command[at] : '\0';
    // An echo shows only where no two commands ask with the same character.
    if (!inCommand || commandCharacters.find(asked) != std::string::npos) commandsDiffer = false;
    commandCharacters += asked;
    allEcho = allEcho && inCommand && sample.Reply[at] == asked;
    allSame = allSame && sample.Reply[at] == samples.front().Reply[at];
  }
  if (commandsDiffer && allEcho) return ReplyForm::Echoed;
  if (allSame) return ReplyForm::Fixed;
  return ReplyForm::Free;
}

bool FitsRule(const ReplyForm& form, size_t at, const std::string& command,
              const std::string& reply) {
  switch (form.Rules[at]) {
    case ReplyForm::Echoed:
      return at < command.size() && reply[at] == command[at];
    case ReplyForm::Fixed:
      return reply[at] == form.Head[at];
    default:
      return true;
  }
}

}  // namespace

size_t DataStartOf(ReplyKind kind) {
  return kind == ReplyKind::FlashBlock ? FlashDataStart : EepromDataStart;
}

size_t DataDigitsOf(ReplyKind kind) {
  return 2 * static_cast<size_t>(kind == ReplyKind::FlashBlock ? ReadBlockBytes : EepromLineBytes);
}

size_t ReplyLengthOf(ReplyKind kind) {
  return DataStartOf(kind) + DataDigitsOf(kind);
}

std::optional<ReplyKind> ReadKindOf(const std::string& command) {
  if (command.size() == FlashReadLength && command.rfind(FlashReadPrefix, 0) == 0)
    return ReplyKind::FlashBlock;
  if (command.size() == EepromReadLength && command.rfind(EepromReadPrefix, 0) == 0)
    return ReplyKind::EepromLine;
  return std::nullopt;
}

std::string DataFault(ReplyKind kind, const std::string& reply) {
  std::vector<uint8_t> data(DataDigitsOf(kind) / 2);
  const size_t start = DataStartOf(kind);
  const HexData decoded = kind == ReplyKind::FlashBlock
                              ? DecodeHexWords256(reply, start, data.data())
                              : DecodeHexBytes128(reply, start, data.data());
  if (decoded != HexData::Good) return DescribeHexData(decoded, reply);
  if (LongerThanTable(kind, reply))
    return "a reply of " + std::to_string(reply.size()) + " characters, " +
           LongerThanTableNote(kind);
  return "";
}

bool CarriesData(ReplyKind kind, const std::string& reply) {
  return DataFault(kind, reply).empty();
}

bool LongerThanTable(ReplyKind kind, const std::string& reply) {
  return reply.size() > ReplyLengthOf(kind);
}

std::string LongerThanTableNote(ReplyKind kind) {
  // Characters the table has no place for shift the data or say something unknown: only a
  // record of the line shows which.
  return "longer than the " + std::to_string(ReplyLengthOf(kind)) + " characters of " +
         KindName(kind) +
         " reply: what the characters beyond them mean is not known (record "
         "the line with --trace FILE and send the trace in, so that they can be looked at)";
}

bool ReplyForm::Echoes() const {
  return Rules.find(Echoed) != std::string::npos;
}

std::optional<ReplyForm> AgreedForm(ReplyKind kind, const std::vector<ReplySample>& samples) {
  if (samples.size() < AgreeingReplies) return std::nullopt;
  for (const ReplySample& sample : samples)
    if (!CarriesData(kind, sample.Reply)) return std::nullopt;
  ReplyForm form;
  for (size_t at = 0; at < DataStartOf(kind); ++at) {
    const char rule = AgreedRule(samples, at);
    form.Rules += rule;
    form.Head += rule == ReplyForm::Fixed ? samples.front().Reply[at] : ' ';
  }
  return form;
}

std::string FormMismatch(ReplyKind kind, const ReplyForm& form, const std::string& command,
                         const std::string& reply) {
  const std::string fault = DataFault(kind, reply);
  if (!fault.empty()) return fault;
  for (size_t at = 0; at < form.Rules.size(); ++at) {
    if (FitsRule(form, at, command, reply)) continue;
    const std::string head = reply.substr(0, DataStartOf(kind));
    if (form.Rules[at] == ReplyForm::Echoed) return "the reply echoes " + head + ", another read";
    return "the reply begins " + head + ", not as this deco's do";
  }
  return "";
}

void CheckReplyForm(const DecoLink& link, ReplyKind kind, const std::string& command,
                    const std::string& reply) {
  const ReplyForm& form = link.Forms().Of(kind);
  if (!form.Learned()) return;
  const std::string mismatch = FormMismatch(kind, form, command, reply);
  if (!mismatch.empty()) throw EBadReply(command, mismatch);
}

}  // namespace protocol
