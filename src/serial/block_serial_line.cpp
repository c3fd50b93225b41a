// TBlockSerial, the line format: the classic device-control record made from a speed, data
// bits, parity, stop bits and flow control, and handed to the system.
#include "serial/block_serial.h"

namespace serial {

void TBlockSerial::ConfigureLine(int32_t baud, int32_t dataBits, char parity, int32_t stopBits,
                                 bool softwareFlow, bool hardwareFlow) {
  lineSettings_ = LineSettingsRecord{};
  lineSettings_.Length = sizeof(LineSettingsRecord);
  lineSettings_.BaudRate = static_cast<uint32_t>(baud);
  lineSettings_.DataBits = static_cast<uint8_t>(dataBits);
  switch (parity) {
    case 'N':
    case 'n':
      lineSettings_.Parity = 0;
      break;
    case 'O':
    case 'o':
      lineSettings_.Parity = 1;
      break;
    case 'E':
    case 'e':
      lineSettings_.Parity = 2;
      break;
    case 'M':
    case 'm':
      lineSettings_.Parity = 3;
      break;
    case 'S':
    case 's':
      lineSettings_.Parity = 4;
      break;
    default:
      lineSettings_.Parity = 0;
      break;
  }
  lineSettings_.StopBits = static_cast<uint8_t>(stopBits);
  lineSettings_.XonChar = 17;
  lineSettings_.XoffChar = 19;
  lineSettings_.XonLimit = static_cast<uint16_t>(inputQueueSize_ / 4);
  lineSettings_.XoffLimit = static_cast<uint16_t>(inputQueueSize_ / 4);
  uint32_t flags = FlagBinary;
  if (softwareFlow) flags |= FlagXonXoffOut | FlagXonXoffIn;
  if (hardwareFlow)
    flags |= FlagCtsOutFlow | FlagRtsHandshake;
  else
    flags |= FlagRtsEnable;
  flags |= FlagDtrEnable;
  if (lineSettings_.Parity != 0) flags |= FlagParityCheck;
  lineSettings_.Flags = flags;
  ApplyLineSettings();
}

void TBlockSerial::ApplyLineSettings() {
  RecordError(ErrOk);
  int error = backend_->Apply(lineSettings_);
  if (error != 0) RecordError(error);
  RaiseOnError();
}

}  // namespace serial
