#include "protocol/link_context.h"

namespace protocol {

namespace {
LinkContext processLink;
thread_local LinkContext* installed = nullptr;
}  // namespace

LinkContext& CurrentLink() { return installed ? *installed : processLink; }

LinkScope::LinkScope(LinkContext& link) : previous_(installed) { installed = &link; }

LinkScope::~LinkScope() { installed = previous_; }

std::unique_ptr<serial::TBlockSerial>& SerialLink() { return CurrentLink().SerialLink; }
std::atomic<int32_t>& BaseTimeout() { return CurrentLink().BaseTimeout; }
std::atomic<StatusSink*>& MainWindowHandle() { return CurrentLink().MainWindowHandle; }
std::atomic<bool>& DecoInStandby() { return CurrentLink().DecoInStandby; }
std::atomic<bool>& Block18Protected() { return CurrentLink().Block18Protected; }
std::atomic<bool>& DoubleRead() { return CurrentLink().DoubleRead; }
std::atomic<uint64_t>& Rereads() { return CurrentLink().Rereads; }
std::array<uint8_t, EepromLineBytes>& EepromBuffer() { return CurrentLink().EepromBuffer; }
std::array<uint32_t, SectorCount + 1>& SectorBase() { return CurrentLink().SectorBase; }
std::array<uint8_t, SectorCount + 1>& SectorFlags() { return CurrentLink().SectorFlags; }
std::vector<std::string>& EraseCommands() { return CurrentLink().EraseCommands; }
std::vector<std::string>& ProgramCommands() { return CurrentLink().ProgramCommands; }

}  // namespace protocol
