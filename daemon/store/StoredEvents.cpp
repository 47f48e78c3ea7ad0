#include "StoredEvents.h"

#include <cerrno>
#include <charconv>
#include <cmath>

#include "EventStore.h"
#include "util/FileUtil.h"

namespace brantwell {

double eventDateSeconds(std::string_view date)
{
    const auto start = date.find_first_not_of(" \t");
    if (start == std::string_view::npos)
        return 0;
    double seconds = 0;
    const auto [end, ec] = std::from_chars(date.data() + start, date.data() + date.size(), seconds);
    (void)end;
    if (ec != std::errc() || !std::isfinite(seconds))
        return 0;
    return seconds;
}

void forEachStoreFile(const EventStore& store,
                      const std::function<void(const std::string&, std::string&)>& visit,
                      const std::function<void(const std::string&, int)>& unreadable)
{
    std::string contents;
    for (const auto& name : store.listFiles()) {
        if (!readWholeFile(joinPath(store.directory(), name), contents)) {
            if (errno != ENOENT && unreadable)
                unreadable(name, errno);
            continue;
        }
        visit(name, contents);
    }
}

} // namespace brantwell
