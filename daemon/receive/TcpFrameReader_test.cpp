#include "TcpFrameReader.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

using brantwell::TcpFrameReader;

namespace {

struct Read {
    std::vector<std::string> frames;  // a cut frame ends in "~"
    bool failed = false;
};

// Feeds `stream` in pieces of `piece` bytes (0: all at once), then ends it
// when `end` is set.
Read readFrames(const std::string& stream, std::size_t piece, std::size_t keep = 16, std::size_t maxFrame = 1000,
                bool end = true)
{
    TcpFrameReader reader(keep, maxFrame);
    Read out;
    const auto sink = [&](std::string_view frame, bool cut) { out.frames.emplace_back(std::string(frame) + (cut ? "~" : "")); };
    const std::size_t step = piece == 0 ? std::max<std::size_t>(stream.size(), 1) : piece;
    for (std::size_t i = 0; i < stream.size() && !out.failed; i += step)
        out.failed = !reader.feed(std::string_view(stream).substr(i, step), sink);
    if (end && !out.failed)
        reader.finish(sink);
    return out;
}

struct FrameCase {
    const char* what;
    std::string stream;
    std::vector<std::string> frames;
    bool failed = false;
};

} // namespace

TEST(TcpFrameReader, TellsOctetCountingFromLineFramingPerFrameWhateverTheSegments)
{
    const FrameCase cases[] = {
        {"two LF frames", "<13>one\n<13>two\n", {"<13>one", "<13>two"}},
        {"two counted frames", "7 <13>one8 <13>two!", {"<13>one", "<13>two!"}},
        {"counted then LF then counted", "5 <1>ab<13>line\n4 <1>x", {"<1>ab", "<13>line", "<1>x"}},
        {"a counted frame may hold LF", "9 <13>a\nb\nc", {"<13>a\nb\nc"}},
        {"an LF after a counted frame is an empty line", "3 <ab\n<13>x\n", {"<ab", "<13>x"}},
        {"NUL ends a line", std::string("<13>one\0<13>two\0", 16), {"<13>one", "<13>two"}},
        {"NUL after a counted frame", std::string("4 <1>a\0<13>b\0", 14), {"<1>a", "<13>b"}},
        {"digits and a space begin a line unless \"<\" follows", "2026 ok <13>x\n<13>next\n",
         {"2026 ok <13>x", "<13>next"}},
        {"a count and its space at the end", "12 ", {"12 "}},
        {"empty lines carry nothing", "\n\n<13>x\n\n", {"<13>x"}},
        {"a line that starts with digits", "2026-12 dated\n", {"2026-12 dated"}},
        {"digits up to the end of a line", "123\n<13>x\n", {"123", "<13>x"}},
        {"a leading zero is no count", "0 zero\n", {"0 zero"}},
        {"CR LF stays for the parser to drop", "<13>x\r\n", {"<13>x\r"}},
        {"the last LF frame without its LF", "<13>a\n<13>last", {"<13>a", "<13>last"}},
        {"a counted frame cut short by the end", "10 <13>ab", {"<13>ab~"}},
        {"a count without its frame", "12", {"12"}},
        {"a line longer than kept", "<13>0123456789abcdefXYZ\n<13>next\n", {"<13>0123456789ab~", "<13>next"}},
        {"a counted frame longer than kept", "22 <13>0123456789abcdefXY<13>next\n", {"<13>0123456789ab~", "<13>next"}},
        {"a count beyond the limit", "<13>ok\n1001 <x", {"<13>ok"}, true},
        {"a number beyond the limit in a line", "<13>ok\n1001 x\n", {"<13>ok", "1001 x"}},
        {"ten digits are no count", "1234567890 <x\n", {"1234567890 <x"}},
        {"a count at the limit", "1000 <" + std::string(999, 'a') + "\n<13>x\n",
         {"<" + std::string(15, 'a') + "~", "<13>x"}},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {0, 1, 2, 3, 7}) {
            const Read r = readFrames(c.stream, piece);
            EXPECT_EQ(r.frames, c.frames) << c.what << ", pieces of " << piece;
            EXPECT_EQ(r.failed, c.failed) << c.what << ", pieces of " << piece;
        }
    }
}

TEST(TcpFrameReader, HoldsBackAFrameUntilItEnds)
{
    EXPECT_TRUE(readFrames("<13>no LF yet", 0, 16, 1000, false).frames.empty());
    EXPECT_TRUE(readFrames("20 <13>short", 0, 16, 1000, false).frames.empty());
    TcpFrameReader reader(16);
    int frames = 0;
    const auto count = [&](std::string_view, bool) { ++frames; };
    reader.feed("<13>a", count);
    EXPECT_TRUE(reader.inFrame());
    reader.feed("\n", count);
    EXPECT_FALSE(reader.inFrame());
    reader.finish(count);  // nothing begun: nothing more
    EXPECT_EQ(frames, 1);
}

TEST(TcpFrameReader, KeepsTheStartOfA100KilobyteFrameAndFindsTheNextOne)
{
    const std::string big(100 * 1024, 'x');
    for (const std::string& stream : {std::to_string(big.size() + 4) + " <13>" + big + "<13>after\n",
                                      "<13>" + big + "\n<13>after\n"}) {
        const Read r = readFrames(stream, 1400, 1024, TcpFrameReader::kDefaultMaxFrame);
        ASSERT_EQ(r.frames.size(), 2u);
        EXPECT_EQ(r.frames[0], "<13>" + std::string(1020, 'x') + "~");
        EXPECT_EQ(r.frames[1], "<13>after");
    }
}
