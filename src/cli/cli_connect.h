// Connect from the command line: the engine's connect, what failed in plain words, and where a
// deco that did not answer can be heard instead.
#pragma once

#include <atomic>
#include <string>

#include "cli/cli_job.h"
#include "cli/console_host.h"
#include "protocol/deco_link.h"
#include "protocol/stop_token.h"

namespace cli {

// Connects link to the deco of options (port, speed, standby or service mode) and logs "OK"; deco
// receives what the connect learned, also when it failed later. With autoConnect it first
// listens in service mode at each speed and connects where the deco answers, else from standby,
// and says which; options then hold what it found, for everything after the connect. On failure
// tells why, what was heard and what the run did, and what to do; puts it in error, and answers
// false.
bool ConnectFromCli(protocol::DecoLink& link, JobOptions& options, ConsoleHost& host,
                    protocol::StopToken stop, std::string& error,
                    protocol::DecoFacts& deco);

// Ends the session of a run that changed nothing in the deco by the one rule for leaving service
// mode; proven: the run found the deco's memory equal to its files. A deco that stays in service
// mode is told with how to go on; a failed exit is told, and turns a result of ExitDone into
// ExitJobFailed. Answers the result to exit with.
int DisconnectFromCli(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
                      bool proven, int result);

// Says that a deco found in service mode (options.service) was left there, and how to go on.
void TellLeftInServiceMode(ConsoleHost& host, const JobOptions& options);

// Listens once in service mode at each speed (9600, 38400, 115200), by a read that changes
// nothing in the deco (about two seconds each), and says what to change: "the deco answers in
// service mode at 38400: add --service --baud 38400", or that nothing answered; part of a reply
// counts as an answer. It never changes the deco's mode or speed. "" when the port cannot be
// opened again.
std::string DiagnoseSilentDeco(const std::string& port, const std::string& baud, bool service,
                               protocol::Clock& clock);

}  // namespace cli
