// Addresses: the address inside a recipient text, for comparing and for the
// policy tests.
//
// A header token such as "Boss corp.com" <boss@evil.com> is shown whole but
// judged by its address. The address is found after the token's comments
// (parenthesised, nesting, with quoted-pairs) and the white space around
// them are removed: then it is the text inside the last <...>, or, without
// brackets, the whole rest. So bob@dom.ain (Bob Person) is bob@dom.ain, and
// x@evil.example (<boss@corp.example>) is x@evil.example: a comment can
// neither name the address nor hide it. A comment left open runs to the end
// of the token. An envelope recipient such as
// <x@evil.com> ORCPT=rfc822;x@corp.com is judged by the text inside its
// angle brackets, without the ESMTP parameters. Judging the whole text would
// let a display name, a comment or a parameter make a recipient look
// authorized.
//
// Header texts come from the mail: every function here reads its input
// once from left to right, keeps comment nesting as a count (no recursion),
// and so takes time in proportion to the text whatever it holds.
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
// split it: at commas outside double quotes and outside comments; quotes and
// comments stay in the token as written. A quote or comment left open runs
// to the end of the text.
std::vector<std::string> addressTokens(const std::string& text);

// ASCII case-insensitive equality.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

} // namespace MAIL
