// Reading the event store for the periodic threads: files whole, lines as
// stored, the Date field as a number.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace brantwell {

class EventStore;

// The Date field read as seconds since 1970: its leading decimal number; a
// field that does not start with one, or reads as infinite, is 0 (1970).
double eventDateSeconds(std::string_view date);

// Calls `visit` with each line of `contents`, its LF included (the last line
// may have none).
template <typename Visit>
void forEachLine(std::string_view contents, Visit&& visit)
{
    for (std::size_t pos = 0; pos < contents.size();) {
        const auto lf = contents.find('\n', pos);
        const auto end = lf == std::string_view::npos ? contents.size() : lf + 1;
        visit(contents.substr(pos, end - pos));
        pos = end;
    }
}

// Reads every event log file of `store` whole, in listing order, without the
// removal lock (a rewrite replaces a file by rename, so each read sees one
// whole version of it) and hands its name and contents to `visit`, which
// may move the contents away. A file
// that vanished since the listing is skipped; the name of one that could not
// be read for another reason goes to `unreadable`, when given.
void forEachStoreFile(const EventStore& store,
                      const std::function<void(const std::string& name, std::string& contents)>& visit,
                      const std::function<void(const std::string& name, int error)>& unreadable = {});

} // namespace brantwell
