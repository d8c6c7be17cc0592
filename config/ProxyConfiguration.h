// ProxyConfiguration: one getter and setter per setting of the program.
//
// Build one on the stack, read or write what is needed, drop it: nothing is
// cached. Each getter of the Setting key first sets its output to the default
// and overwrites it when the read succeeds; it returns whether the read
// succeeded. The log getters leave their output untouched on failure, so the
// caller's presets stand. Setters return whether the write succeeded.
#pragma once

#include "config/Registry.h"

#include <cstdint>
#include <string>

namespace MAIL {

class ProxyConfiguration : public CurrentUserRegistry {
public:
    static constexpr const char* SettingKey = "Software\\Corvane\\Application\\Pelorus\\Setting";
    static constexpr const char* LogKey = "Software\\Corvane\\Application\\Pelorus\\Log";

    // Shown until the user names a server; never looked up (the relay checks
    // that Server is stored).
    static constexpr const char* DefaultServer = "smtp.example.com";
    static constexpr std::uint16_t DefaultPort = 25;
    // Not 25: ports below 1024 need root, and 25 is often the system's own
    // mail server. The first start must work for an ordinary user.
    static constexpr std::uint16_t DefaultProxyPort = 2525;
    static constexpr std::int32_t DefaultDialogTimeout = 50;
    // Loopback only: a proxy that relays to the user's server and raises
    // dialogs on the user's desktop must not be open to the network.
    static constexpr const char* DefaultListenAddress = "127.0.0.1";

    bool getServer(std::string& server);
    bool setServer(const std::string& server);
    bool getPort(std::uint16_t& port);
    bool setPort(std::uint16_t port);
    bool getAllowed(std::string& allowed);
    bool setAllowed(const std::string& allowed);
    // 10 or less reads as 50.
    bool getDialogTimeout(std::int32_t& timeout);
    bool getProxyPort(std::uint16_t& port);
    bool setProxyPort(std::uint16_t port);
    // The IPv4 address the proxy listens on ("0.0.0.0": every address).
    bool getListenAddress(std::string& address);
    bool setListenAddress(const std::string& address);
    // Whether every judged mail is written to the record of decisions
    // (DecisionLog, a dword: 0 off, anything else on; on when absent).
    bool getDecisionLog(bool& keep);
    bool setDecisionLog(bool keep);
    // How many envelope recipients a mail may have without a warning
    // (MaxRecipients, a dword: a mail with more envelope recipients gets a
    // warning; 0, the default, never; values past 10000 read as 10000).
    static constexpr std::int32_t MaximumRecipientLimit = 10000;
    bool getMaxRecipients(std::int32_t& limit);
    bool setMaxRecipients(std::int32_t limit);
    // Whether a first mail to an address is flagged "new"
    // (FlagNewRecipients, a dword: 0 off, anything else on; on when absent).
    bool getFlagNewRecipients(bool& flag);
    bool setFlagNewRecipients(bool flag);
    // Whether each flagged recipient must be ticked on its own
    // (ConfirmEachRecipient, a dword: 0 off, anything else on; off when absent).
    bool getConfirmEachRecipient(bool& each);
    bool setConfirmEachRecipient(bool each);
    // How many seconds a mail waits after the decision before it goes, so
    // that the user can undo it (SendDelay, a dword: 0, the default, never;
    // values past 60 read as 60).
    static constexpr std::int32_t MaximumSendDelay = 60;
    bool getSendDelay(std::int32_t& seconds);
    bool setSendDelay(std::int32_t seconds);
    // Whether a mail that needed no question is held too (HoldTrusted, a
    // dword: 0 off, anything else on; on when absent).
    bool getHoldTrusted(bool& hold);
    bool setHoldTrusted(bool hold);

    bool getLogDirectory(std::string& directory);
    bool getLogFileName(std::string& fileName);
    bool getLogLevel(std::int32_t& level);
    bool getRotationNumber(std::int32_t& number);
    bool getRotationFileSize(std::int32_t& kibibytes);
    // True in console only when the stored text is exactly "true".
    bool getConsole(bool& console);

private:
    bool getNumber(const char* key, const char* name, std::int32_t& out);
    // A dword of the Setting key: on when stored other than 0, absent reads
    // as fallback.
    bool getSwitch(const char* name, bool& on, bool fallback = true);
    // A dword of the Setting key read as a number, values past maximum as
    // maximum (the dword is unsigned: a "negative" one is large).
    bool getCapped(const char* name, std::uint32_t maximum, std::int32_t& out);
    bool getPortValue(const char* name, std::uint16_t fallback, std::uint16_t& port);
};

} // namespace MAIL
