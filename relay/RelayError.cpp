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
};

} // namespace

const char* relayErrorText(int code)
{
    for (const ErrorRow& row : ErrorTable)
        if (row.code == code)
            return row.text;
    return "";
}

} // namespace MAIL
