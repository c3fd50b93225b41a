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

// The connect of a command on one deco (verify, chip, line-check, standby): its reads retried as
// options say; run receives the options as the connect found the deco, deco what it learned.
bool ConnectOneDeco(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
                    protocol::StopToken stop, JobOptions& run, protocol::DecoFacts& deco);

// Ends the session by the one rule for leaving service mode, read from the link's record. A deco
// that stays in service mode is told with why and how to go on; a failed exit is told, and turns
// a result of ExitDone into ExitJobFailed; a deco whose state the run lost is told so. Answers the
// result to exit with.
int DisconnectFromCli(protocol::DecoLink& link, const JobOptions& options, ConsoleHost& host,
                      int result);

// Says that the deco was left in service mode, why, and how to go on (and to standby).
void TellLeftInServiceMode(ConsoleHost& host, const JobOptions& options,
                           const protocol::DecoFindings& deco);
// Says that the run does not know what the deco is in now, and that --auto finds out; nothing
// when it knows.
void TellIfStateUnknown(ConsoleHost& host, const protocol::DecoFindings& deco);
// The connect options of a command printed for the next run, by what the deco is in now as far
// as this run knows: --service, none (standby), or --auto where it does not know.
std::string ConnectOptionsNow(const JobOptions& options, const protocol::DecoFindings& deco);

// Listens on link, opened again at port, in service mode at each speed (9600, 38400, 115200) by
// a read that changes nothing in the deco (asked twice where silent), and says what to change:
// "the deco answers in service mode at 38400: add --service --baud 38400", or that nothing
// answered; characters that are no reply count as an answer. It never changes the deco's mode or
// speed. "" when the port cannot be opened again.
std::string DiagnoseSilentDeco(protocol::DecoLink& link, const std::string& port,
                               const std::string& baud, bool service);

}  // namespace cli
