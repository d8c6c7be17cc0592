#include "shell/CommandLine.h"

#include "config/ProxyConfiguration.h"
#include "foundation/String.h"
#include "relay/ServerSecurity.h"
#include "shell/SettingsValidation.h"

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

} // namespace MAIL
