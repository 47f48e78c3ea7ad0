// The event store: a directory of "yyyy-MM-dd.log" files, one line per event.
//
// Every writer goes through this class and its removal lock: the receiver's
// appends, and the rewrites of the update command and the removal thread.
// The file of the current day is kept open between appends; a rewrite
// replaces a file by rename, so the store drops its open descriptor of a
// file it rewrites, and the next append opens the new file.
#pragma once

#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

#include "EventRecord.h"
#include "util/FailureReport.h"

namespace brantwell {

class EventStore {
public:
    explicit EventStore(std::string directory);
    ~EventStore();
    EventStore(const EventStore&) = delete;
    EventStore& operator=(const EventStore&) = delete;

    const std::string& directory() const { return directory_; }

    // Appends one line per event, in order, to the file of the local day of
    // `receptionTime`, in one write of whole lines under the removal lock.
    // Returns the number of events written (all or none): after a short
    // write the file is cut back to where the batch began. A day file that
    // is a link, not a regular file or another user's is never written.
    std::size_t append(double receptionTime, std::span<const EventRecord> events);

    // Names of the event log files ("*.log"), in directory order.
    std::vector<std::string> listFiles() const;

    // Reads `fileName` whole under the removal lock and hands its lines
    // (each with its LF, the last one possibly without) to `edit`. When
    // `edit` returns true the file is replaced by the edited lines through a
    // temporary file and rename with the file's mode, or deleted when no
    // line is left. A file that `edit` leaves alone is not touched.
    // Returns false when the file could not be read or replaced.
    using LineEditor = std::function<bool(std::vector<std::string>& lines)>;
    bool rewrite(const std::string& fileName, const LineEditor& edit);

    // Owner, group and modes of the directory and its files (see
    // enforceDataPermissions): at start, and again from the periodic
    // recheck when group "brantwell" has appeared or changed since.
    void enforcePermissions();
    void recheckPermissions();

    // Held by append and rewrite; exposed for tests and for callers that
    // must see a quiet store across several steps.
    std::mutex& removalLock() { return removalLock_; }

private:
    int openDayFile(const std::string& fileName);  // REQUIRES: removalLock_ held
    void closeDayFile();                            // REQUIRES: removalLock_ held

    const std::string directory_;
    std::mutex removalLock_;
    int dayFd_ = -1;           // GUARDED_BY(removalLock_)
    std::string dayFileName_;  // GUARDED_BY(removalLock_)
    long dayCheckedAt_ = -1;   // GUARDED_BY(removalLock_): second of the last inode check
    std::string buffer_;       // GUARDED_BY(removalLock_)
    FailureReport appendFailure_{std::chrono::minutes(1)};  // GUARDED_BY(removalLock_)
    gid_t enforcedGroup_ = static_cast<gid_t>(-1);          // GUARDED_BY(removalLock_)
};

} // namespace brantwell
