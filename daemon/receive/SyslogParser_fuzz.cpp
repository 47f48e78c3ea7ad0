// libFuzzer target for the datagram parser and its RFC 5424 header reader:
// whatever a sender sends, nothing is read out of bounds, the stored text is
// valid UTF-8 of at most kMaxMessage bytes without a control character (so
// a stored line stays one line), every event that would be stored reads back
// from its stored line as itself, and a header that parses hands out views
// inside the text it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <unicode/utf8.h>

#include "EventRecord.h"
#include "SyslogParser.h"

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

bool inside(std::string_view part, std::string_view whole)
{
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    brantwell::ParsedDatagram parsed;
    brantwell::parseDatagram(bytes, parsed);
    const std::string_view m = parsed.message;
    check(m.size() <= brantwell::kMaxMessage);
    check(!parsed.empty || m.find_first_not_of(' ') == std::string_view::npos);
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(m.size());) {
        UChar32 c;
        U8_NEXT(reinterpret_cast<const std::uint8_t*>(m.data()), i, static_cast<std::int32_t>(m.size()), c);
        check(c >= 0x20 && c != 0x7F && !(c >= 0x80 && c <= 0x9F));
    }

    // What the store writes for it, every reader must read back unchanged:
    // a line they skip is an event lost (the removal pass deletes it).
    if (!parsed.empty) {
        const brantwell::EventRecord stored{"1796802805", std::string(parsed.priority), "127.0.0.1", std::string(m)};
        const auto read = brantwell::splitEventLine(brantwell::formatEventLine(stored));
        check(read.has_value() && *read == stored);
    }

    // The header reader on its own, on the text as it follows a PRI.
    brantwell::Rfc5424Header h;
    if (brantwell::parseRfc5424Header(bytes, h)) {
        for (std::string_view part : {h.timestamp, h.hostname, h.appName, h.procId, h.msgId, h.structuredData})
            check(!part.empty() && inside(part, bytes));
        check(h.message.empty() || inside(h.message, bytes));
        check(h.structuredData == "-" || (h.structuredData.front() == '[' && h.structuredData.back() == ']'));
    }
    return 0;
}
