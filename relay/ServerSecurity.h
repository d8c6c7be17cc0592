// ServerSecurity: how the relay protects its connection to the SMTP server,
// from the settings Security, CAFile and VerifyServer.
//
// Security is compared without regard to case: "none" (also when missing or
// empty) is plain SMTP; "starttls" upgrades the connection after the
// greeting; "tls" encrypts it from the start (usually port 465). Any other
// value is Unknown, and a connection with it is refused, never made in
// plain text. VerifyServer 0 turns certificate checks off; anything else,
// or no value, keeps them on.
//
// Every step up to a finished handshake has its own limit,
// securityStepMilliseconds() (30 s): a server that stays silent that long
// on a connection meant to be encrypted is on the wrong port or mode.
#pragma once

#include <string>
#include <string_view>

namespace MAIL {

class Registry;

enum class SecurityMode { None, StartTls, Tls, Unknown };

struct ServerSecurity {
    SecurityMode mode = SecurityMode::None;
    std::string setting;  // the Security text as stored, for messages
    std::string caFile;   // "" = the system's certificates only
    bool verify = true;
};

// The names of the settings, under ProxyConfiguration::SettingKey.
inline constexpr const char* SecuritySetting = "Security";
inline constexpr const char* CAFileSetting = "CAFile";
inline constexpr const char* VerifyServerSetting = "VerifyServer";

// "none", "starttls", "tls" in any case (and "" as none); else Unknown.
SecurityMode parseSecurityMode(std::string_view text);
// The setting's word for a mode ("none", "starttls", "tls").
const char* securityModeName(SecurityMode mode);

// Reads the three settings afresh.
ServerSecurity readServerSecurity();
// Reads them from a given store (the caller's ProxyConfiguration).
ServerSecurity readServerSecurity(Registry& settings);

// Writes them as the Properties dialog and the command line do.
bool storeSecurityMode(Registry& settings, SecurityMode mode);
bool storeCAFile(Registry& settings, const std::string& path);
bool storeVerifyServer(Registry& settings, bool verify);

// The limit for each step up to a finished handshake, in milliseconds.
int securityStepMilliseconds();
// Tests shorten it so that a silent server is judged without a long wait.
void setSecurityStepMilliseconds(int milliseconds);

} // namespace MAIL
