#include "BusWire.h"

#include <bit>
#include <cstring>

namespace brantwell::ctl::wire {

namespace {

// The bus refuses messages larger than this; so does the reader.
constexpr std::size_t kMaxMessage = 128u * 1024 * 1024;
constexpr int kMaxDepth = 64;

// Reads values at their alignment, relative to the start of `data` (the
// message for its header, the body for the body: both start 8-aligned).
class Reader {
public:
    Reader(std::string_view data, bool bigEndian) : data_(data), bigEndian_(bigEndian) {}

    std::size_t pos() const { return pos_; }
    bool ok() const { return ok_; }
    bool atEnd() const { return pos_ >= data_.size(); }

    bool align(std::size_t n)
    {
        const std::size_t to = (pos_ + n - 1) / n * n;
        return skip(to - pos_);
    }
    bool skip(std::size_t n)
    {
        if (!ok_ || n > data_.size() - pos_)
            return ok_ = false;
        pos_ += n;
        return true;
    }
    std::uint8_t byte()
    {
        if (!skip(1))
            return 0;
        return static_cast<std::uint8_t>(data_[pos_ - 1]);
    }
    std::uint32_t u32()
    {
        if (!align(4) || !skip(4))
            return 0;
        std::uint32_t v;
        std::memcpy(&v, data_.data() + pos_ - 4, 4);
        return bigEndian_ ? __builtin_bswap32(v) : v;
    }
    std::uint64_t u64()
    {
        if (!align(8) || !skip(8))
            return 0;
        std::uint64_t v;
        std::memcpy(&v, data_.data() + pos_ - 8, 8);
        return bigEndian_ ? __builtin_bswap64(v) : v;
    }
    // s and o: length, text, NUL.
    std::string_view string()
    {
        const std::uint32_t n = u32();
        return text(n);
    }
    // g: one length byte, text, NUL.
    std::string_view signature()
    {
        const std::uint8_t n = byte();
        return text(n);
    }

private:
    std::string_view text(std::size_t n)
    {
        if (!ok_ || n >= data_.size() - pos_ || data_[pos_ + n] != '\0')
            return ok_ = false, std::string_view{};
        const std::string_view s = data_.substr(pos_, n);
        pos_ += n + 1;
        return s;
    }

    std::string_view data_;
    bool bigEndian_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

std::size_t alignmentOf(char type)
{
    switch (type) {
    case 'y': case 'g': case 'v': return 1;
    case 'n': case 'q': return 2;
    case 'x': case 't': case 'd': case '(': case '{': return 8;
    default: return 4;  // b i u h s o a
    }
}

// The end of the single complete type that starts at `at`; npos if the
// signature is broken there.
std::size_t typeEnd(std::string_view sig, std::size_t at, int depth = 0)
{
    if (at >= sig.size() || depth > kMaxDepth)
        return std::string_view::npos;
    const char c = sig[at];
    if (c == 'a')
        return typeEnd(sig, at + 1, depth + 1);
    if (c == '(' || c == '{') {
        const char close = c == '(' ? ')' : '}';
        std::size_t i = at + 1;
        while (i < sig.size() && sig[i] != close) {
            i = typeEnd(sig, i, depth + 1);
            if (i == std::string_view::npos)
                return i;
        }
        return i < sig.size() ? i + 1 : std::string_view::npos;
    }
    return std::strchr("ybnqiuxtdhsogv", c) && c != '\0' ? at + 1 : std::string_view::npos;
}

// Steps over one value of the complete type sig[at, end).
bool skipValue(Reader& r, std::string_view sig, std::size_t at, int depth = 0)
{
    if (depth > kMaxDepth || at >= sig.size())
        return false;
    switch (const char c = sig[at]) {
    case 'y': return r.skip(1);
    case 'n': case 'q': return r.align(2) && r.skip(2);
    case 'b': case 'i': case 'u': case 'h': return r.align(4) && r.skip(4);
    case 'x': case 't': case 'd': return r.align(8) && r.skip(8);
    case 's': case 'o': r.string(); return r.ok();
    case 'g': r.signature(); return r.ok();
    case 'v': {
        const std::string_view inner = r.signature();
        return r.ok() && typeEnd(inner, 0) == inner.size() && skipValue(r, inner, 0, depth + 1);
    }
    case 'a': {
        const std::uint32_t n = r.u32();
        // The bytes of the elements, after the padding to their alignment.
        return r.ok() && at + 1 < sig.size() && r.align(alignmentOf(sig[at + 1])) && r.skip(n);
    }
    case '(': case '{': {
        if (!r.align(8))
            return false;
        const std::size_t end = typeEnd(sig, at);
        if (end == std::string_view::npos)
            return false;
        for (std::size_t i = at + 1; i < end - 1; i = typeEnd(sig, i))
            if (!skipValue(r, sig, i, depth + 1))
                return false;
        return true;
    }
    default:
        (void)c;
        return false;
    }
}

Reader bodyReader(const Message& m)
{
    return Reader(m.body, m.bigEndian);
}

void put32(std::string& out, std::uint32_t v)
{
    char b[4];
    std::memcpy(b, &v, 4);  // the machine's order: composed messages say 'l'
    static_assert(std::endian::native == std::endian::little);
    out.append(b, 4);
}

void pad(std::string& out, std::size_t n)
{
    out.append((n - out.size() % n) % n, '\0');
}

void field(std::string& out, std::uint8_t code, char type, std::string_view value)
{
    if (value.empty())
        return;  // a field not given is left out
    pad(out, 8);
    out.push_back(static_cast<char>(code));
    out.push_back(1);
    out.push_back(type);
    out.push_back('\0');
    if (type == 'g') {
        out.push_back(static_cast<char>(value.size()));
        out.append(value);
        out.push_back('\0');
    } else {
        appendString(out, value);
    }
}

} // namespace

Parse parseMessage(std::string_view buffer, Message& out, std::size_t& size)
{
    if (buffer.size() < 16)
        return Parse::Incomplete;
    const char order = buffer[0];
    if ((order != 'l' && order != 'B') || buffer[3] != 1)
        return Parse::Malformed;
    Reader fixed(buffer.substr(0, 16), order == 'B');
    fixed.skip(4);
    const std::uint32_t bodyLength = fixed.u32();
    const std::uint32_t serial = fixed.u32();
    const std::uint32_t fieldsLength = fixed.u32();
    const std::size_t bodyStart = (16 + static_cast<std::size_t>(fieldsLength) + 7) / 8 * 8;
    if (fieldsLength > kMaxMessage || bodyLength > kMaxMessage || bodyStart + bodyLength > kMaxMessage
        || serial == 0)
        return Parse::Malformed;
    if (buffer.size() < bodyStart + bodyLength)
        return Parse::Incomplete;

    Message m;
    m.type = static_cast<MessageType>(buffer[1]);
    m.flags = static_cast<std::uint8_t>(buffer[2]);
    m.bigEndian = order == 'B';
    m.serial = serial;
    Reader r(buffer.substr(0, 16 + fieldsLength), m.bigEndian);
    r.skip(16);
    while (r.ok() && !r.atEnd()) {
        r.align(8);
        const std::uint8_t code = r.byte();
        const std::string_view type = r.signature();
        if (!r.ok() || typeEnd(type, 0) != type.size())
            return Parse::Malformed;
        const bool known = (code == 1 && type == "o") || (code == 5 && type == "u") || (code == 8 && type == "g")
                           || ((code == 2 || code == 3 || code == 4 || code == 6 || code == 7) && type == "s");
        if (!known) {
            // A field this reader has no use for, or of a type it does not
            // expect there: stepped over.
            skipValue(r, type, 0);
        } else {
            switch (code) {
            case 1: m.path = r.string(); break;
            case 2: m.interface = r.string(); break;
            case 3: m.member = r.string(); break;
            case 4: m.errorName = r.string(); break;
            case 5: m.replySerial = r.u32(); break;
            case 6: m.destination = r.string(); break;
            case 7: m.sender = r.string(); break;
            case 8: m.signature = r.signature(); break;
            }
        }
        if (!r.ok())
            return Parse::Malformed;
    }
    if (m.type < MessageType::MethodCall || m.type > MessageType::Signal)
        return Parse::Malformed;
    m.body = buffer.substr(bodyStart, bodyLength);
    out = m;
    size = bodyStart + bodyLength;
    return Parse::Complete;
}

bool readEvents(const Message& m, const std::function<void(const Event&)>& each)
{
    if (m.signature != "aa{ss}")
        return false;
    Reader r = bodyReader(m);
    const std::uint32_t total = r.u32();
    if (!r.ok() || total > m.body.size() - r.pos())
        return false;
    const std::size_t end = r.pos() + total;
    while (r.pos() < end) {
        const std::uint32_t length = r.u32();
        r.align(8);
        if (!r.ok() || length > end - r.pos())
            return false;
        const std::size_t eventEnd = r.pos() + length;
        Event e;
        while (r.ok() && r.pos() < eventEnd) {
            r.align(8);
            const std::string_view key = r.string();
            const std::string_view value = r.string();
            if (!r.ok())
                return false;
            if (key == "Type")
                e.type = value;
            else if (key == "Date")
                e.date = value;
            else if (key == "Priority")
                e.priority = value;
            else if (key == "Host")
                e.host = value;
            else if (key == "Message")
                e.message = value;
        }
        if (!r.ok() || r.pos() != eventEnd)
            return false;
        each(e);
    }
    return r.pos() == end;
}

std::optional<std::string_view> firstString(const Message& m)
{
    if (m.signature.empty() || m.signature[0] != 's')
        return std::nullopt;
    Reader r = bodyReader(m);
    const std::string_view s = r.string();
    return r.ok() ? std::optional(s) : std::nullopt;
}

std::optional<std::uint64_t> firstUint64(const Message& m)
{
    if (m.signature != "t")
        return std::nullopt;
    Reader r = bodyReader(m);
    const std::uint64_t v = r.u64();
    return r.ok() ? std::optional(v) : std::nullopt;
}

bool threeStrings(const Message& m, std::string_view& a, std::string_view& b, std::string_view& c)
{
    if (m.signature != "sss")
        return false;
    Reader r = bodyReader(m);
    a = r.string();
    b = r.string();
    c = r.string();
    return r.ok();
}

void appendString(std::string& body, std::string_view value)
{
    pad(body, 4);
    put32(body, static_cast<std::uint32_t>(value.size()));
    body.append(value);
    body.push_back('\0');
}

std::string compose(const Outgoing& m)
{
    std::string fields;
    fields.reserve(256);
    field(fields, 1, 'o', m.path);
    field(fields, 2, 's', m.interface);
    field(fields, 3, 's', m.member);
    field(fields, 4, 's', m.errorName);
    if (m.replySerial) {
        pad(fields, 8);
        fields.append("\x05\x01u\0", 4);
        put32(fields, m.replySerial);
    }
    field(fields, 6, 's', m.destination);
    field(fields, 8, 'g', m.signature);

    std::string out;
    out.reserve(16 + fields.size() + 8 + m.body.size());
    out.push_back('l');
    out.push_back(static_cast<char>(m.type));
    out.push_back(static_cast<char>(m.flags));
    out.push_back(1);
    put32(out, static_cast<std::uint32_t>(m.body.size()));
    put32(out, m.serial);
    put32(out, static_cast<std::uint32_t>(fields.size()));
    out.append(fields);
    pad(out, 8);
    out.append(m.body);
    return out;
}

} // namespace brantwell::ctl::wire
