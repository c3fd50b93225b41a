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

}  // namespace

size_t DataStartOf(ReplyKind kind) {
  return kind == ReplyKind::FlashBlock ? FlashDataStart : EepromDataStart;
}

size_t DataDigitsOf(ReplyKind kind) {
  return 2 * static_cast<size_t>(kind == ReplyKind::FlashBlock ? ReadBlockBytes : EepromLineBytes);
}

size_t TableLengthOf(ReplyKind kind) {
  return DataStartOf(kind) + DataDigitsOf(kind);
}

std::optional<ReplyKind> ReadKindOf(const std::string& command) {
  if (command.size() == FlashReadLength && command.rfind(FlashReadPrefix, 0) == 0)
    return ReplyKind::FlashBlock;
  if (command.size() == EepromReadLength && command.rfind(EepromReadPrefix, 0) == 0)
    return ReplyKind::EepromLine;
  return std::nullopt;
}

bool CarriesData(ReplyKind kind, const std::string& reply) {
  // The table places the data and ends the reply with it: a longer reply holds characters whose
  // meaning is not known (noise before it shifts the data), so it carries none.
  if (reply.size() > TableLengthOf(kind)) return false;
  std::vector<uint8_t> data(DataDigitsOf(kind) / 2);
  const size_t start = DataStartOf(kind);
  return (kind == ReplyKind::FlashBlock ? DecodeHexWords256(reply, start, data.data())
                                        : DecodeHexBytes128(reply, start, data.data())) ==
         HexData::Good;
}

bool ReplyForm::Echoes() const {
  return Rules.find(Echoed) != std::string::npos;
}

std::optional<ReplyForm> AgreedForm(ReplyKind kind, const std::vector<std::string>& commands,
                                    const std::vector<std::string>& replies) {
  if (commands.size() < LeastAgreeingReplies || replies.size() != commands.size()) return std::nullopt;
  for (const std::string& reply : replies)
    if (reply.size() != replies.front().size() || !CarriesData(kind, reply)) return std::nullopt;
  ReplyForm form;
  form.Length = replies.front().size();
  for (size_t i = 0; i < DataStartOf(kind); ++i) {
    bool echoed = true, fixed = true, readsDiffer = false;
    for (size_t r = 0; r < replies.size(); ++r) {
      echoed &= i < commands[r].size() && replies[r][i] == commands[r][i];
      fixed &= replies[r][i] == replies.front()[i];
      readsDiffer |= i < commands[r].size() && i < commands.front().size() &&
                     commands[r][i] != commands.front()[i];
    }
    // A character repeats the command only where the reads differ and every reply follows
    // them; one that neither repeats nor stays the same is no rule the replies agree on.
    if (echoed && readsDiffer) {
      form.Rules += ReplyForm::Echoed;
      form.Head += ' ';
    } else if (fixed) {
      form.Rules += ReplyForm::Fixed;
      form.Head += replies.front()[i];
    } else {
      return std::nullopt;
    }
  }
  return form;
}

std::string FormMismatch(const ReplyForm& form, const std::string& command,
                         const std::string& reply) {
  if (reply.size() > form.Length)
    return "a reply of " + std::to_string(reply.size()) + " characters, longer than the " +
           std::to_string(form.Length) +
           " of the reply table: what the characters beyond them mean is not known (record the "
           "line with --trace FILE and send the trace to the maker)";
  if (reply.size() != form.Length)
    return "a reply of " + std::to_string(reply.size()) + " characters where this deco sends " +
           std::to_string(form.Length);
  for (size_t i = 0; i < form.Rules.size(); ++i) {
    const char rule = form.Rules[i];
    const bool fits = (rule == ReplyForm::Fixed && reply[i] == form.Head[i]) ||
                      (rule == ReplyForm::Echoed && i < command.size() && reply[i] == command[i]);
    if (fits) continue;
    if (form.Echoes())
      return "the reply echoes " + reply.substr(0, form.Rules.size()) + ", another read";
    return "the reply begins " + reply.substr(0, form.Rules.size()) + ", not as this deco's do";
  }
  return "";
}

void CheckReplyForm(const DecoLink& link, ReplyKind kind, const std::string& command,
                    const std::string& reply) {
  const ReplyForm& form = link.Forms().Of(kind);
  if (!form.Learned()) return;
  const std::string mismatch = FormMismatch(form, command, reply);
  if (!mismatch.empty()) throw EBadReply(command, mismatch);
}

}  // namespace protocol
