// Addresses: the address inside a recipient text, for comparing and for the
// policy tests.
//
// A header token such as "Boss corp.com" <boss@evil.com> is shown whole but
// judged by its address, the text inside its last <...>; a token without
// brackets is its own address. An envelope recipient such as
// <x@evil.com> ORCPT=rfc822;x@corp.com is judged by the text inside its
// angle brackets, without the ESMTP parameters. Judging the whole text would
// let a display name or a parameter make a recipient look authorized.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace MAIL {

// The address of one header token (To, Cc).
std::string headerTokenAddress(std::string_view token);

// The address of an envelope recipient (the RCPT TO argument).
std::string envelopeAddress(std::string_view argument);

// A To or Cc text split into trimmed, non-empty tokens, as the dialog's rows
// split it (at commas outside double quotes; quotes kept).
std::vector<std::string> addressTokens(const std::string& text);

// ASCII case-insensitive equality.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

} // namespace MAIL
