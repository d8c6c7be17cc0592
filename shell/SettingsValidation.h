// SettingsValidation: the checks a server name, a port, the proxy port,
// the listening address and the security of the server connection must pass
// before they are stored, shared by the command line and the Properties
// dialog. Each answers nothing when the
// value is good, or the message to show the user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace MAIL {

struct ServerSecurity;

// The name is not empty and can be resolved (an IPv4 literal passes as it
// is, without a reverse lookup).
std::optional<std::string> validateServerName(std::string_view text);
// The SMTP server's port is given and lies in 1 to 65535.
std::optional<std::string> validateServerPort(std::string_view text);
// The proxy's own port is given and lies in 1 to 65535.
std::optional<std::string> validateProxyPort(std::string_view text);
// The listening address is a dotted IPv4 address.
std::optional<std::string> validateListenAddress(std::string_view text);

// The security is none, starttls or tls (any case).
std::optional<std::string> validateSecurity(std::string_view text);
// The CA file is empty (the system's certificates only) or a readable file.
std::optional<std::string> validateCAFile(std::string_view text);
// Certificate verification is 0 or 1.
std::optional<std::string> validateVerifyServer(std::string_view text);

// The start-up warnings the stored security settings call for: certificate
// verification off, and passwords reaching a proxy that listens beyond
// loopback in plain text while the server connection is encrypted.
std::vector<std::string> securityWarnings(const ServerSecurity& security, std::string_view listenAddress);

// True when the dotted IPv4 address is in 127.0.0.0/8.
bool isLoopbackAddress(std::string_view text);

// The decimal number the trimmed text starts with (0 when none), as the
// port fields read it; saturates instead of overflowing.
long portNumber(std::string_view text);

} // namespace MAIL
