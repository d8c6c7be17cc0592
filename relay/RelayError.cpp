#include "relay/RelayError.h"

namespace MAIL {

namespace {

struct ErrorRow {
    int code;
    const char* text;
};

// Texts as users have always seen them.
constexpr ErrorRow ErrorTable[] = {
    {ERR_SOCKET, "Error:socket fuctiion."},
    {ERR_BIND, "Error:bind fuction."},
    {ERR_SETSOCKOPT, "Error:setsockopt fuction."},
    {ERR_LISTEN, "Error:listen functiion."},
    {ERR_HOST_LOOKUP, "Error:Failed to get host name of the SMT server.\r\n\r\nMaybe SMTP host name is invalid, "
                      "or this PC not connected to the Internet."},
    {ERR_SERVER_CONNECT, "Error:Failed to connect the SMTP server."},
    {ERR_CLIENT_SEND, "Error:Failed to send data to the mail client."},
    {ERR_CLIENT_RECV, "Error:Failed to recv data from the mail client."},
    {ERR_SERVER_SEND, "Error:Failed to send data to the SMTP server."},
    {ERR_SERVER_RECV, "Error:Failed to recv data from the SMTP server."},
    {ERR_TLS_NOT_OFFERED, "Error:The SMTP server does not offer STARTTLS."},
    {ERR_TLS_REFUSED, "Error:The SMTP server refused STARTTLS."},
    {ERR_TLS_HANDSHAKE, "Error:The TLS handshake with the SMTP server failed."},
    {ERR_TLS_UNTRUSTED, "Error:The certificate of the SMTP server is not trusted."},
    {ERR_TLS_NAME_MISMATCH, "Error:The certificate of the SMTP server does not match its name."},
    {ERR_TLS_INJECTION, "Error:The SMTP server sent data before the TLS handshake."},
    {ERR_TLS_SECURITY_SETTING, "Error:The Security setting is not none, starttls or tls."},
    {ERR_TLS_CA_FILE, "Error:The CA file for the SMTP server cannot be read."},
    {ERR_TLS_NO_ANSWER, "Error:The SMTP server did not answer in time on the encrypted connection. "
                        "Check the port and the Security setting."},
};

} // namespace

const char* relayErrorText(int code)
{
    for (const ErrorRow& row : ErrorTable)
        if (row.code == code)
            return row.text;
    return "";
}

bool isTlsError(int code) { return code <= ERR_TLS_NOT_OFFERED && code >= ERR_TLS_NO_ANSWER; }

} // namespace MAIL
