// The deco's flash is two 16-bit NOR chips side by side on the 32-bit bus: the lower chip on
// bits 0-15, the upper on bits 16-31 with its low byte's data lines in reverse order. A command
// byte therefore travels twice in one line, as is in bits 0-7 and bit-reversed in bits 16-23; data
// words pass through unchanged (the wiring undoes itself between writing and reading). The
// commands never show how the upper chip's high byte is wired: only the codes it answers do.
// Here: identifying the chips, waiting for an erase to finish, and programming in unlock bypass.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/deco_link.h"
#include "protocol/stop_token.h"

namespace protocol {

// The longest a sector erase may take before the write gives up on it.
inline constexpr uint32_t EraseTimeLimitMs = 20000;
// The pause between two reads of an erasing sector.
inline constexpr uint32_t ErasePollIntervalMs = 20;

constexpr uint8_t ReverseBits(uint8_t byte) {
  uint8_t reversed = 0;
  for (int bit = 0; bit < 8; ++bit)
    if (byte & (1u << bit)) reversed = static_cast<uint8_t>(reversed | (0x80u >> bit));
  return reversed;
}

// The data word that gives both chips the command byte.
constexpr uint32_t ChipCommandWord(uint8_t command) {
  return uint32_t{ReverseBits(command)} << 16 | command;
}

// How the upper chip's high data byte (bits 24-31) reaches the bus. Either: the codes read the
// same both ways, so they do not tell.
enum class HighByteWiring { Reversed, Straight, Either };

// "reversed", "straight", "either".
const char* WiringName(HighByteWiring wiring);

// A 16-bit value as the upper chip put it on bits 16-31, read back in the chip's own bit order.
constexpr uint16_t UpperLaneValue(uint32_t busWord,
                                  HighByteWiring highByte = HighByteWiring::Reversed) {
  const auto high = static_cast<uint8_t>(busWord >> 24);
  return static_cast<uint16_t>(
      (highByte == HighByteWiring::Straight ? high : ReverseBits(high)) << 8 |
      ReverseBits(static_cast<uint8_t>(busWord >> 16)));
}

// "0220" + address + the command word for both chips.
std::string ChipCommandLine(uint32_t address, uint8_t command);

struct ChipCodes {
  uint16_t Manufacturer = 0;
  uint16_t Device = 0;
  bool operator==(const ChipCodes&) const = default;
};

struct FlashPart {
  uint8_t Manufacturer;
  uint16_t Device;
  const char* Name;
  bool UnlockBypass;
};

// A common 8-Mbit bottom-boot part by its codes; null when unknown.
const FlashPart* FindFlashPart(const ChipCodes& codes);

struct FlashChips {
  ChipCodes Lower;
  ChipCodes Upper;  // read through the wiring that gives the lower chip's codes, if one does
  // The wiring under which both chips answer the same codes; none when no wiring does.
  std::optional<HighByteWiring> UpperHighByte;
  // The part both chips are; null when either is unknown or they differ.
  const FlashPart* Part = nullptr;
};

// "01 225B" for manufacturer 01, device 225B; "0102 221C" for manufacturer 0102.
std::string CodesText(const ChipCodes& codes);

// Reads both chips' manufacturer and device codes in autoselect mode and returns them to reading
// the array. Changes no memory; on a failure on the way, the chips are still sent back to reading.
FlashChips IdentifyFlashChips(DecoLink& link);

// Reads the sector's first block until it is erased (all FF: a chip still erasing answers status
// bits instead) in two reads in a row, EraseTimeLimitMs at most; answers the milliseconds it took.
// A sector not erased in time throws std::runtime_error.
// A stop request, looked at before each pause, ends the wait early: then no time is answered.
std::optional<uint32_t> WaitSectorErased(DecoLink& link, int sector, StopToken stop = {});

// Unlock bypass: after entering it, a word is programmed by two cycles instead of four. Only the
// bypass program and bypass reset commands are heard meanwhile, so it is left before any read.
void EnterUnlockBypass(DecoLink& link);
void BypassProgramWord(DecoLink& link, uint32_t address, uint32_t value);
void LeaveUnlockBypass(DecoLink& link);
// After a failure inside bypass: leaves it whatever cycle was lost with the failure (one lost
// with its reply may have left the chips waiting for a word's data, which then takes the reset's
// first cycle: a word of the unfinished sector, at address), and never throws.
void LeaveUnlockBypassAfterFailure(DecoLink& link, uint32_t address) noexcept;
// Programming only clears bits: a word programmed with this changes nothing.
inline constexpr uint32_t UnchangingData = 0xFFFFFFFFu;
// Before a flash job that may follow one cut off inside bypass, identification or a program
// set-up (a line that went dead): leaves them all, so that the chips answer with the array and
// hear the erase and program commands again, without changing a word of the flash. Chips
// already reading the array take the cycles as stray writes and ignore them. Then learns the
// form of the deco's flash replies (LearnReplyForm); a line that does not allow it throws.
void ReturnChipsToRead(DecoLink& link);

}  // namespace protocol
