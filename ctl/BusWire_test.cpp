// The wire reader against messages serialised by another implementation
// (GLib's GDBusMessage.to_blob), in both byte orders, and against every
// way a stream can be cut or a length can lie.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BusWire.h"

namespace {

using namespace brantwell::ctl::wire;

std::string fromHex(std::string_view hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

// A "Brantwell" signal with two events from :1.7 to :1.42, serial 9;
// the second event has an empty message and an IPv6 host.
const std::string kEventsLittle = fromHex(
    "6c04010119010000090000009a00000007017300040000003a312e370000000001016f001a0000002f636f6d2f436f7276616e74"
    "612f4272616e7477656c6c5372760000000000000201730027000000636f6d2e436f7276616e74612e4272616e7477656c6c5372"
    "762e4d7958504350726f746f636f6c0006017300050000003a312e3432000000080167000661617b73737d000000000003017300"
    "090000004272616e7477656c6c00000000000000150100008d0000000400000054797065000000000300000053657400000000000400"
    "000044617465000000000f0000004465632020382031393a30303a303100080000005072696f726974790000000002000000313300"
    "0004000000486f737400000000090000003132372e302e302e3100000000000000070000004d657373616765000c00000068656c"
    "6c6f2c20776f726c640000000079000000000000000400000054797065000000000300000053657400000000000400000044617465"
    "000000000f0000004465632020382031393a30303a303200080000005072696f7269747900000000030000003139310004000000"
    "486f737400000000030000003a3a310000000000070000004d657373616765000000000000");
const std::string kEventsBig = fromHex(
    "4204010100000119000000090000009a07017300000000043a312e370000000001016f000000001a2f636f6d2f436f7276616e74"
    "612f4272616e7477656c6c5372760000000000000201730000000027636f6d2e436f7276616e74612e4272616e7477656c6c5372"
    "762e4d7958504350726f746f636f6c0006017300000000053a312e3432000000080167000661617b73737d000000000003017300"
    "000000094272616e7477656c6c00000000000000000001150000008d0000000454797065000000000000000353657400000000000000"
    "000444617465000000000000000f4465632020382031393a30303a303100000000085072696f7269747900000000000000023133"
    "000000000004486f737400000000000000093132372e302e302e3100000000000000000000074d657373616765000000000c68656c"
    "6c6f2c20776f726c640000000000000079000000000000000454797065000000000000000353657400000000000000000444617465"
    "000000000000000f4465632020382031393a30303a303200000000085072696f7269747900000000000000033139310000000004"
    "486f737400000000000000033a3a310000000000000000074d657373616765000000000000");
// "EventsDropped" with 12345678901, serial 3; the little-endian one also
// carries a header field of code 42 and type a{sv} that no reader knows.
const std::string kDroppedWithUnknownField = fromHex(
    "6c0401010800000003000000ae0000002a05617b73767d001800000000000000010000006b000428796929000000000001000000"
    "0200000007017300040000003a312e370000000001016f001a0000002f636f6d2f436f7276616e74612f4272616e7477656c6c53"
    "72760000000000000201730027000000636f6d2e436f7276616e74612e4272616e7477656c6c5372762e4d7958504350726f746f"
    "636f6c000801670001740000030173000d0000004576656e747344726f70706564000000351cdcdf02000000");
const std::string kDroppedBig = fromHex(
    "4204010100000008000000030000008607017300000000043a312e370000000001016f000000001a2f636f6d2f436f7276616e74"
    "612f4272616e7477656c6c5372760000000000000201730000000027636f6d2e436f7276616e74612e4272616e7477656c6c5372"
    "762e4d7958504350726f746f636f6c000801670001740000030173000000000d4576656e747344726f7070656400000000000002"
    "dfdc1c35");

std::vector<std::string> linesOf(const Message& m)
{
    std::vector<std::string> lines;
    const bool whole = readEvents(m, [&](const Event& e) {
        lines.push_back(std::string(e.type) + "|" + std::string(e.date) + "|" + std::string(e.priority) + "|"
                        + std::string(e.host) + "|" + std::string(e.message));
    });
    if (!whole)
        lines.push_back("<unreadable>");
    return lines;
}

TEST(BusWire, ReadsEventSignalsInEitherByteOrder)
{
    for (const auto* bytes : {&kEventsLittle, &kEventsBig}) {
        SCOPED_TRACE((*bytes)[0]);
        const std::string stream = *bytes + "the next message";
        Message m;
        std::size_t size = 0;
        ASSERT_EQ(parseMessage(stream, m, size), Parse::Complete);
        EXPECT_EQ(size, 457u);
        EXPECT_EQ(m.type, MessageType::Signal);
        EXPECT_EQ(m.serial, 9u);
        EXPECT_EQ(m.sender, ":1.7");
        EXPECT_EQ(m.destination, ":1.42");
        EXPECT_EQ(m.path, "/com/Corvanta/BrantwellSrv");
        EXPECT_EQ(m.interface, "com.Corvanta.BrantwellSrv.MyXPCProtocol");
        EXPECT_EQ(m.member, "Brantwell");
        EXPECT_EQ(m.signature, "aa{ss}");
        EXPECT_EQ(linesOf(m), (std::vector<std::string>{"Set|Dec  8 19:00:01|13|127.0.0.1|hello, world",
                                                        "Set|Dec  8 19:00:02|191|::1|"}));
    }
}

TEST(BusWire, StepsOverHeaderFieldsItDoesNotKnow)
{
    for (const auto* bytes : {&kDroppedWithUnknownField, &kDroppedBig}) {
        Message m;
        std::size_t size = 0;
        ASSERT_EQ(parseMessage(*bytes, m, size), Parse::Complete);
        EXPECT_EQ(size, bytes->size());
        EXPECT_EQ(m.member, "EventsDropped");
        EXPECT_EQ(m.sender, ":1.7");
        EXPECT_EQ(firstUint64(m), 12345678901u);
        EXPECT_EQ(firstString(m), std::nullopt) << "the body is a number, not a text";
    }
}

TEST(BusWire, ACutMessageWaitsForTheRest)
{
    for (std::size_t n = 0; n < kEventsLittle.size(); ++n) {
        Message m;
        std::size_t size = 0;
        ASSERT_EQ(parseMessage(std::string_view(kEventsLittle).substr(0, n), m, size), Parse::Incomplete) << n;
    }
}

// Offsets into kEventsLittle: the body starts at 176.
constexpr std::size_t kBody = 176;

TEST(BusWire, LyingLengthsAreRefusedNotFollowed)
{
    struct Case {
        const char* what;
        std::size_t at;
        std::string bytes;
        bool headerRefused;  // else: the header reads, the events do not
    };
    const auto u32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    const std::vector<Case> cases = {
        {"an unknown byte order", 0, "x", true},
        {"a protocol version other than 1", 3, "\x02", true},
        {"a body longer than the bus allows", 4, u32(0x7fffffff), true},
        {"header fields longer than the bus allows", 12, u32(0x7fffffff), true},
        {"a field text that runs past the header", 20, u32(0x1000), true},
        {"a field signature naming no type", 17, "\x01" "!", true},
        {"an event list longer than the body", kBody, u32(0x10000), false},
        {"an event longer than the list", kBody + 4, u32(0x1000), false},
        {"a key longer than the event", kBody + 8, u32(0x800), false},
        {"a key without its closing NUL", kBody + 8 + 4 + 4, "X", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = kEventsLittle;
        bytes.replace(c.at, c.bytes.size(), c.bytes);
        Message m;
        std::size_t size = 0;
        const Parse parsed = parseMessage(bytes, m, size);
        if (c.headerRefused) {
            EXPECT_NE(parsed, Parse::Complete);
            continue;
        }
        ASSERT_EQ(parsed, Parse::Complete);
        EXPECT_EQ(linesOf(m).back(), "<unreadable>");
    }
}

// Damage anywhere: whatever the outcome, nothing outside the bytes is read
// (each try gets a buffer of exactly its size, which the sanitizers watch).
TEST(BusWire, DamagedMessagesAreReadWithinTheirBytes)
{
    std::mt19937 random(20261208);
    int complete = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string bytes = i % 2 ? kEventsLittle : kEventsBig;
        for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips)
            bytes[random() % bytes.size()] = static_cast<char>(random());
        const auto exact = std::make_unique<char[]>(bytes.size());
        std::memcpy(exact.get(), bytes.data(), bytes.size());
        Message m;
        std::size_t size = 0;
        if (parseMessage(std::string_view(exact.get(), bytes.size()), m, size) != Parse::Complete)
            continue;
        ++complete;
        ASSERT_LE(size, bytes.size());
        const auto inside = [&](std::string_view text) {
            return text.empty() || (text.data() >= exact.get() && text.data() + text.size() <= exact.get() + size);
        };
        readEvents(m, [&](const Event& e) {
            EXPECT_TRUE(inside(e.type) && inside(e.date) && inside(e.priority) && inside(e.host) && inside(e.message));
        });
    }
    EXPECT_GT(complete, 1000) << "most damage leaves a message that still parses";
}

TEST(BusWire, ASignalOfAnotherShapeIsNotReadAsEvents)
{
    Message m;
    std::size_t size = 0;
    ASSERT_EQ(parseMessage(kDroppedBig, m, size), Parse::Complete);
    EXPECT_FALSE(readEvents(m, [](const Event&) { FAIL() << "no event in a \"t\" body"; }));
    std::string_view a, b, c;
    EXPECT_FALSE(threeStrings(m, a, b, c));
}

} // namespace
