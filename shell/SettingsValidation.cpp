#include "shell/SettingsValidation.h"

#include "foundation/String.h"
#include "relay/ServerConnection.h"
#include "relay/ServerSecurity.h"

#include <filesystem>
#include <fstream>
#include <memory>

#include <arpa/inet.h>
#include <netdb.h>

namespace MAIL {

namespace {

struct AddrInfoFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

bool resolves(const std::string& name)
{
    std::uint32_t literal = 0;
    if (parseIPv4(name, literal))
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    std::unique_ptr<addrinfo, AddrInfoFree> owner(found);
    return true;
}

} // namespace

long portNumber(std::string_view text)
{
    text = trimView(text);
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > 1000000)
            return value;  // far out of range already
    }
    return value;
}

std::optional<std::string> validateServerName(std::string_view text)
{
    const std::string_view name = trimView(text.substr(0, 254));
    if (name.empty())
        return std::string("SMTP server name is empty!\r\n\r\nPlease enter the SMTP server name.");
    const std::string trimmed(trimView(text));
    if (!resolves(trimmed))
        return "Not found host name of the SMTP server(" + trimmed +
               ").\r\n\r\nPlease reconfirm the SMTP server name.";
    return std::nullopt;
}

std::optional<std::string> validateServerPort(std::string_view text)
{
    if (text.empty())
        return std::string("Port number is empty!\r\n\r\nPlease enter the port number to the SMTP server.");
    const long port = portNumber(text.substr(0, 126));
    if (port < 1 || port > 65535)
        return std::string(
            "Port number is invalid.\r\n\r\nPlease enter the port number in the range [1,65535] to the SMTP server.");
    return std::nullopt;
}

std::optional<std::string> validateProxyPort(std::string_view text)
{
    if (text.empty())
        return std::string("Please enter the port number to the Pelorus.");
    const long port = portNumber(text);
    if (port < 1 || port > 65535)
        return std::string("Please enter the port number in the range [1, 65535] to the Pelorus.");
    return std::nullopt;
}

std::optional<std::string> validateListenAddress(std::string_view text)
{
    std::uint32_t address = 0;
    if (!parseIPv4(std::string(trimView(text)), address))
        return std::string("Please enter an IPv4 address to listen on, such as 127.0.0.1 or 0.0.0.0.");
    return std::nullopt;
}

std::optional<std::string> validateSecurity(std::string_view text)
{
    if (parseSecurityMode(text) == SecurityMode::Unknown)
        return std::string("Please enter none, starttls or tls as the security of the connection to the SMTP "
                           "server.");
    return std::nullopt;
}

std::optional<std::string> validateCAFile(std::string_view text)
{
    const std::string path(trimView(text));
    if (path.empty())
        return std::nullopt;
    std::error_code ignored;
    const bool regular = std::filesystem::is_regular_file(path, ignored);
    if (!regular || !std::ifstream(path, std::ios::binary).good())
        return "The CA file (" + path + ") cannot be read.\r\n\r\nPlease enter a readable PEM file of "
                                        "certificates, or nothing to trust the system's certificates only.";
    return std::nullopt;
}

std::optional<std::string> validateVerifyServer(std::string_view text)
{
    const std::string_view value = trimView(text);
    if (value != "0" && value != "1")
        return std::string("Please enter 1 to verify the certificate of the SMTP server, or 0 not to.");
    return std::nullopt;
}

std::vector<std::string> securityWarnings(const ServerSecurity& security, std::string_view listenAddress)
{
    std::vector<std::string> warnings;
    if (!security.verify)
        warnings.emplace_back("Certificate verification is off");
    // Clients reach the proxy in plain SMTP; off this machine that link is
    // the network.
    if (security.mode != SecurityMode::None && !isLoopbackAddress(listenAddress))
        warnings.push_back("Passwords cross the network unencrypted to Pelorus: it listens on " +
                           std::string(trimView(listenAddress)) +
                           ", and only its connection to the SMTP server is encrypted.");
    return warnings;
}

bool isLoopbackAddress(std::string_view text)
{
    std::uint32_t address = 0;
    return parseIPv4(std::string(trimView(text)), address) && (ntohl(address) >> 24) == 127;
}

} // namespace MAIL
