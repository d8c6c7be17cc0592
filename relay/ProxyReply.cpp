#include "relay/ProxyReply.h"

std::string MAIL::proxyReply(const ReplyText& reply, std::string_view detail)
{
    std::string line = reply.code;
    line += ' ';
    if (reply.status[0] != '\0')
        line.append(reply.status).append(" ");
    line.append(detail.empty() ? std::string_view(reply.text) : detail).append("\r\n");
    return line;
}
