// Text bound for standard error (the journal under systemd) or a journal
// entry. A CR or LF from a settings value, a mail server's reply or an event
// would otherwise end the line and let the rest pass for a line of the
// daemon's own.
#pragma once

#include <string>
#include <string_view>

namespace brantwell {

// CR as the two characters "\r", LF as "\n"; every other byte as it is.
std::string escapeLineBreaks(std::string_view text);

} // namespace brantwell
