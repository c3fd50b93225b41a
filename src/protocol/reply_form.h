// What a deco's read replies look like. The deco is relied on only for the data digits of a
// reply (from the fourth character of a flash block's, from the eighth of an EEPROM line's);
// what stands before them and how long the whole line is differ from deco to deco. The command
// line learns them from the deco it is connected to, and from then on takes a reply of another
// form as a bad one: a noise character before a reply shifts its data, and another line's reply
// under this line's name carries its own offset. The window learns nothing and examines only the
// data digits.
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
// How long the reply table makes kind's reply: the data's start and its digits, nothing after.
size_t TableLengthOf(ReplyKind kind);
// The kind of a read command; nullopt for any other command.
std::optional<ReplyKind> ReadKindOf(const std::string& command);
// Whether reply carries kind's data digits where they belong: all upper-case hex, none missing,
// and nothing after them.
bool CarriesData(ReplyKind kind, const std::string& reply);

// One kind's form on one deco.
struct ReplyForm {
  size_t Length = 0;  // characters before the CR; 0: not learned
  // A rule for each character before the data: Echoed repeats the command's character there,
  // Fixed is always the character in Head.
  static constexpr char Echoed = 'E', Fixed = 'F';
  std::string Rules;
  std::string Head;

  bool Learned() const { return Length > 0; }
  // Whether the reply names its read: it repeats a character in which two reads differ.
  bool Echoes() const;
};

// How many replies a form is learned from: one damaged reply among them shows as a character
// they do not agree on, never as a rule.
inline constexpr size_t LeastAgreeingReplies = 3;

// The form the replies to the reads in commands (LeastAgreeingReplies or more) all agree on: a
// character before the data repeats the read's where every reply repeats its own read's there
// and the reads differ there; it is fixed where every reply has the same. nullopt when a reply
// does not carry the data where the table puts it, the lengths differ, or a character is neither.
std::optional<ReplyForm> AgreedForm(ReplyKind kind, const std::vector<std::string>& commands,
                                    const std::vector<std::string>& replies);
// What makes reply to command differ from form; "" when it fits.
std::string FormMismatch(const ReplyForm& form, const std::string& command,
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
