#include "shell/SettingsValidation.h"

#include "foundation/String.h"
#include "relay/ServerConnection.h"

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

bool isLoopbackAddress(std::string_view text)
{
    std::uint32_t address = 0;
    return parseIPv4(std::string(trimView(text)), address) && (ntohl(address) >> 24) == 127;
}

} // namespace MAIL
