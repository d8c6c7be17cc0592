#include "shell/CommandLine.h"

#include "config/ProxyConfiguration.h"
#include "foundation/String.h"
#include "foundation/StringConverter.h"
#include "foundation/VisibleText.h"
#include "relay/ServerSecurity.h"
#include "shell/SettingsValidation.h"

#include <algorithm>
#include <ctime>
#include <string_view>

namespace MAIL {

const char* usageText()
{
    return "Usage: pelorus [OPTION]...\n"
           "Pelorus holds each outgoing mail until you have confirmed its recipients.\n"
           "Point your mail client's outgoing server at Pelorus (127.0.0.1, port 2525).\n"
           "\n"
           "  --headless           run without a window, confirming mails in this terminal\n"
           "  --server HOST        the real SMTP server (host name or IPv4 address)\n"
           "  --port N             the real SMTP server's port\n"
           "  --security MODE      none, starttls (usually port 587) or tls (usually port 465)\n"
           "                       for the connection to the real SMTP server\n"
           "  --ca-file PATH       a PEM file of certificates to trust besides the system's\n"
           "                       (an empty PATH trusts the system's only)\n"
           "  --verify-server 0|1  0 accepts any certificate of the SMTP server (unsafe)\n"
           "  --proxy-port N       the port Pelorus listens on\n"
           "  --listen ADDRESS     the IPv4 address Pelorus listens on (default 127.0.0.1)\n"
           "  --verbose            print diagnostic lines on standard output\n"
           "  --decisions [N]      print the last N decisions (default 20) and exit\n"
           "  --version            print the version and exit\n"
           "  --help               print this text and exit\n"
           "\n"
           "Settings given here are stored and used from now on.\n";
}

bool parseCommandLine(const std::vector<std::string>& arguments, ProgramOptions& options, std::string& message)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        std::optional<std::string>* target = nullptr;
        if (word == "--headless")
            options.headless = true;
        else if (word == "--verbose")
            options.verbose = true;
        else if (word == "--version")
            options.version = true;
        else if (word == "--help" || word == "-h")
            options.help = true;
        else if (word == "--decisions") {
            options.decisions = true;
            // N is optional: the next word is it unless it is an option.
            if (i + 1 < arguments.size() && !arguments[i + 1].starts_with("--"))
                options.decisionCount = arguments[++i];
        }
        else if (word == "--server")
            target = &options.server;
        else if (word == "--port")
            target = &options.port;
        else if (word == "--proxy-port")
            target = &options.proxyPort;
        else if (word == "--listen")
            target = &options.listen;
        else if (word == "--security")
            target = &options.security;
        else if (word == "--ca-file")
            target = &options.caFile;
        else if (word == "--verify-server")
            target = &options.verifyServer;
        else {
            message = "pelorus: unknown option '" + word + "'. Try 'pelorus --help'.";
            return false;
        }
        if (target != nullptr) {
            if (i + 1 >= arguments.size()) {
                message = "pelorus: option '" + word + "' needs a value. Try 'pelorus --help'.";
                return false;
            }
            *target = arguments[++i];
        }
    }
    return true;
}

bool givesSettings(const ProgramOptions& options)
{
    return options.server || options.port || options.proxyPort || options.listen || options.security ||
           options.caFile || options.verifyServer;
}

bool checkSettingOptions(const ProgramOptions& options, std::string& message)
{
    std::optional<std::string> failure;
    if (!failure && options.server)
        failure = validateServerName(*options.server);
    if (!failure && options.port)
        failure = validateServerPort(*options.port);
    if (!failure && options.proxyPort)
        failure = validateProxyPort(*options.proxyPort);
    if (!failure && options.listen)
        failure = validateListenAddress(*options.listen);
    if (!failure && options.security)
        failure = validateSecurity(*options.security);
    if (!failure && options.caFile)
        failure = validateCAFile(*options.caFile);
    if (!failure && options.verifyServer)
        failure = validateVerifyServer(*options.verifyServer);
    if (failure) {
        message = *failure;
        return false;
    }
    return true;
}

bool applySettingOptions(const ProgramOptions& options, std::string& message, std::string& warning)
{
    // Every value is checked before any is stored.
    if (!checkSettingOptions(options, message))
        return false;
    ProxyConfiguration settings;
    bool stored = true;
    if (options.server)
        stored = settings.setServer(std::string(trimView(*options.server))) && stored;
    if (options.port)
        stored = settings.setPort(static_cast<std::uint16_t>(portNumber(*options.port))) && stored;
    if (options.proxyPort)
        stored = settings.setProxyPort(static_cast<std::uint16_t>(portNumber(*options.proxyPort))) && stored;
    if (options.listen) {
        const std::string address(trimView(*options.listen));
        stored = settings.setListenAddress(address) && stored;
        if (!isLoopbackAddress(address))
            warning = "Pelorus: listening on " + address +
                      " lets other machines send mail through this proxy and raise questions on this desktop.";
    }
    if (options.security)
        stored = storeSecurityMode(settings, parseSecurityMode(*options.security)) && stored;
    if (options.caFile)
        stored = storeCAFile(settings, std::string(trimView(*options.caFile))) && stored;
    if (options.verifyServer)
        stored = storeVerifyServer(settings, trimView(*options.verifyServer) == "1") && stored;
    if (!stored) {
        message = "pelorus: the settings could not be saved to " + settings.getFile() + ".";
        return false;
    }
    return true;
}

namespace {

constexpr std::size_t DefaultDecisions = 20;
constexpr std::size_t MostDecisions = 10000;

// Columns of the table; the subject takes what is left of 80.
constexpr std::size_t TimeWidth = 19;
constexpr std::size_t DecisionWidth = 9;
constexpr std::size_t CountWidth = 4;
constexpr std::size_t RecipientWidth = 20;
constexpr std::size_t LineWidth = 80;
constexpr std::size_t Gap = 2;
constexpr std::size_t SubjectWidth = LineWidth - TimeWidth - DecisionWidth - CountWidth - RecipientWidth - 4 * Gap;

// Screen columns of one character: two for the wide East Asian ranges.
std::size_t columnsOf(char32_t c)
{
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                      (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// Text from the record, escaped, cut to width columns ("..." marks a cut)
// and padded to width.
std::string cell(std::string_view raw, std::size_t width)
{
    const std::string text = visibleText(raw, false);  // well-formed UTF-8, no controls
    std::size_t used = 0;
    std::size_t kept = 0;      // bytes that fit with room left for "..."
    std::size_t keptUsed = 0;  // their columns
    bool cut = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t columns = columnsOf(decodeUtf8(text, i));
        if (used + columns > width) {
            cut = true;
            break;
        }
        used += columns;
        if (used + 3 <= width) {
            kept = i;
            keptUsed = used;
        }
    }
    if (cut)
        return text.substr(0, kept) + "..." + std::string(width - keptUsed - 3, ' ');
    return text + std::string(width - used, ' ');
}

std::string localTime(std::time_t time)
{
    std::tm parts{};
    char text[32] = "";
    if (::localtime_r(&time, &parts) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

std::string row(const std::string& time, const std::string& decision, const std::string& count,
                const std::string& recipient, const std::string& subject)
{
    const std::string gap(Gap, ' ');
    std::string line = cell(time, TimeWidth) + gap + cell(decision, DecisionWidth) + gap +
                       std::string(CountWidth - std::min(count.size(), CountWidth), ' ') + count + gap +
                       cell(recipient, RecipientWidth) + gap + cell(subject, SubjectWidth);
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line + "\n";
}

} // namespace

std::optional<std::size_t> decisionCount(const ProgramOptions& options)
{
    if (!options.decisionCount)
        return DefaultDecisions;
    const std::string& text = *options.decisionCount;
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::size_t count = std::stoul(text);
    if (count < 1 || count > MostDecisions)
        return std::nullopt;
    return count;
}

std::string decisionsTable(const RecentDecisions& recent)
{
    std::string out;
    if (recent.entries.empty()) {
        out = "No decisions recorded yet.\n";
    } else {
        out = row("Time", "Decision", "Rcpt", "First recipient", "Subject");
        for (const RecentDecision& entry : recent.entries)
            out += row(localTime(entry.time), entry.decision, std::to_string(entry.recipientCount),
                       entry.firstRecipient, entry.subject);
    }
    if (recent.broken == 1)
        out += "Note: 1 line that is no record was skipped.\n";
    else if (recent.broken > 1)
        out += "Note: " + std::to_string(recent.broken) + " lines that are no record were skipped.\n";
    return out;
}

} // namespace MAIL
