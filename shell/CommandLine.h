// CommandLine: the program's options.
//
//   pelorus [--headless] [--verbose] [--server HOST] [--port N]
//           [--security none|starttls|tls] [--ca-file PATH]
//           [--verify-server 0|1] [--proxy-port N] [--listen ADDRESS]
//           [--decisions [N]] [--version] [--help]
//
// parseCommandLine() only reads the words; checkSettingOptions() checks
// every given setting with its own field's rule; applySettingOptions()
// checks them all before any is stored, and stores them as the Properties
// dialog would. The program checks before it takes the single-instance
// lock and stores only once it holds it. --decisions, like --version, is
// answered at once, without the lock: it reads the record of decisions
// while another copy of the program writes it.
#pragma once

#include "relay/DecisionRecord.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace MAIL {

struct ProgramOptions {
    bool headless = false;
    bool verbose = false;
    bool version = false;
    bool help = false;
    bool decisions = false;
    std::optional<std::string> decisionCount;
    std::optional<std::string> server;
    std::optional<std::string> port;
    std::optional<std::string> proxyPort;
    std::optional<std::string> listen;
    std::optional<std::string> security;
    std::optional<std::string> caFile;
    std::optional<std::string> verifyServer;
};

// Reads the arguments; false with a message for an unknown or incomplete one.
bool parseCommandLine(const std::vector<std::string>& arguments, ProgramOptions& options, std::string& message);

// True when the options name at least one setting.
bool givesSettings(const ProgramOptions& options);

// Checks the settings given on the command line; false with the message of
// the first failing check.
bool checkSettingOptions(const ProgramOptions& options, std::string& message);

// Validates and stores the settings given on the command line. False with
// the message of the first failing check (nothing stored then). warning is
// set when the listening address lets other machines use the proxy.
bool applySettingOptions(const ProgramOptions& options, std::string& message, std::string& warning);

// The --help text.
const char* usageText();

// How many decisions --decisions shows: 20 unless N is given; nothing for
// an N outside 1 to 10000.
std::optional<std::size_t> decisionCount(const ProgramOptions& options);

// The --decisions table: local time, decision, recipient count, first
// recipient and subject, each line at most 80 columns, with a closing note
// for lines that were skipped. Text from the record is shown escaped.
std::string decisionsTable(const RecentDecisions& recent);

} // namespace MAIL
