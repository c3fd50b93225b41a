// What a deco's read replies look like. The reply table fixes where a reply's data digits stand
// (from the fourth character of a flash block's, from the eighth of an EEPROM line's) and so how
// long the whole line is; a longer one holds characters nobody knows the meaning of. What stands
// before the data differs from deco to deco: the command line learns it from replies of the deco
// it is connected to that agree, and from then on takes a reply of another form as a bad one:
// another line's reply under this line's name carries its own offset. The window learns nothing
// and examines only the data digits.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace protocol {

class DecoLink;

enum class ReplyKind { FlashBlock, EepromLine };

// Where a kind's data digits start in its reply, and how many there are.
size_t DataStartOf(ReplyKind kind);
size_t DataDigitsOf(ReplyKind kind);
// The characters of a kind's reply before its CR: the head and the data, nothing after them.
size_t ReplyLengthOf(ReplyKind kind);
// The kind of a read command; nullopt for any other command.
std::optional<ReplyKind> ReadKindOf(const std::string& command);
// What keeps reply from carrying kind's data where the reply table puts it; "" when it does: all
// upper-case hex, none missing, nothing after them.
std::string DataFault(ReplyKind kind, const std::string& reply);
bool CarriesData(ReplyKind kind, const std::string& reply);
// Whether reply has more characters than kind's reply can hold.
bool LongerThanTable(ReplyKind kind, const std::string& reply);
// Why such a reply is refused, and what would show the meaning of its characters.
std::string LongerThanTableNote(ReplyKind kind);

// One kind's form on one deco.
struct ReplyForm {
  // A rule for each character before the data: Echoed repeats the command's character there,
  // Fixed is always the character in Head, Free is not relied on.
  static constexpr char Echoed = 'E', Fixed = 'F', Free = '?';
  std::string Rules;  // empty: not learned
  std::string Head;

  bool Learned() const { return !Rules.empty(); }
  // Whether the reply names its read in at least one character.
  bool Echoes() const;
};

// A rule is learned from at least this many replies that agree on it.
inline constexpr size_t AgreeingReplies = 3;

struct ReplySample {
  std::string Command;
  std::string Reply;
};

// The form replies to reads of kind agree on: a character is Echoed where every reply repeats
// its command's character and no two commands share it, Fixed where every reply has the same
// one, and Free otherwise. nullopt with fewer than AgreeingReplies samples or a reply that does
// not carry the data.
std::optional<ReplyForm> AgreedForm(ReplyKind kind, const std::vector<ReplySample>& samples);
// What makes reply to command differ from kind's form; "" when it fits.
std::string FormMismatch(ReplyKind kind, const ReplyForm& form, const std::string& command,
                         const std::string& reply);

// What the command line learned of its deco's replies.
struct ReplyForms {
  ReplyForm Flash;
  ReplyForm Eeprom;
  const ReplyForm& Of(ReplyKind kind) const {
    return kind == ReplyKind::FlashBlock ? Flash : Eeprom;
  }
};

// Throws EBadReply naming command when the link has learned kind's form and reply is of
// another; a link that learned nothing (the window's) accepts it.
void CheckReplyForm(const DecoLink& link, ReplyKind kind, const std::string& command,
                    const std::string& reply);

}  // namespace protocol
