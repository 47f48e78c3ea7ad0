// libFuzzer target for the TCP framing reader: whatever a client sends, the
// reader never reads out of bounds, never hands on more than it keeps, and
// hands on the same frames however the stream is split into reads.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "TcpFrameReader.h"

namespace {

constexpr std::size_t kKeep = 64;
constexpr std::size_t kMaxFrame = 4096;

struct Outcome {
    std::vector<std::pair<std::string, bool>> frames;
    bool failed = false;
};

Outcome readAll(std::string_view stream, std::size_t piece)
{
    brantwell::TcpFrameReader reader(kKeep, kMaxFrame);
    Outcome out;
    const auto sink = [&](std::string_view frame, bool cut) {
        if (frame.size() > kKeep)
            std::abort();
        out.frames.emplace_back(std::string(frame), cut);
    };
    for (std::size_t i = 0; i < stream.size() && !out.failed; i += piece)
        out.failed = !reader.feed(stream.substr(i, piece), sink);
    if (!out.failed)
        reader.finish(sink);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the size of the reads, the rest is the stream.
    const std::size_t piece = 1 + data[0] % 17;
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    const Outcome whole = readAll(stream, stream.size() + 1);
    const Outcome split = readAll(stream, piece);
    if (whole.failed != split.failed || whole.frames != split.frames)
        std::abort();
    return 0;
}
