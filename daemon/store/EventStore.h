// The event store: a directory of "yyyy-MM-dd.log" files, one line per event.
//
// Every writer goes through this class: the receiver's appends under the
// removal lock, and the rewrites of the update command and the removal
// thread, which never hold that lock while they read, filter, write or sync
// a file (the receiver would wait for them and the kernel drop datagrams).
// The file of the current day is kept open between appends; a rewrite
// replaces a file by rename, so the store drops its open descriptor of a
// file it rewrites, and the next append opens the new file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
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

    // Takes lines out of `fileName`: `keep` is called once for each line
    // the file holds when the rewrite starts, in order, with the line as
    // stored (its LF included; a last line torn by a crash has none), and
    // says whether it stays. Lines appended while the rewrite runs are kept
    // and never shown to `keep`. When a line leaves, the file is replaced
    // through a temporary file and rename with the file's mode, or deleted
    // when no line is left; a file that loses nothing is not touched.
    //
    // The file is read, filtered, written and synced without the removal
    // lock; the lock is held only to find where the file ends when the
    // rewrite starts and, at the end, to copy the few lines appended since
    // the last look and rename the new file into place. Rewrites run one at
    // a time (a second one waits for the first, the receiver never does).
    // Returns false, errno set, when the file could not be read or replaced
    // (ENOENT: it is gone; ESTALE: another file was put in its place), and
    // then the file is as it was.
    using LineFilter = std::function<bool(std::string_view line)>;
    bool rewrite(const std::string& fileName, const LineFilter& keep);

    // The longest time an append waited for the removal lock since the
    // store was made, in microseconds.
    std::uint64_t longestWaitMicroseconds() const { return longestWait_.load(std::memory_order_relaxed); }

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
    std::mutex rewriteLock_;  // one rewrite at a time; never taken by append
    std::atomic<std::uint64_t> longestWait_{0};
    int dayFd_ = -1;           // GUARDED_BY(removalLock_)
    std::string dayFileName_;  // GUARDED_BY(removalLock_)
    long dayCheckedAt_ = -1;   // GUARDED_BY(removalLock_): second of the last inode check
    std::string buffer_;       // GUARDED_BY(removalLock_)
    FailureReport appendFailure_{std::chrono::minutes(1)};  // GUARDED_BY(removalLock_)
    gid_t enforcedGroup_ = static_cast<gid_t>(-1);          // GUARDED_BY(removalLock_)
};

} // namespace brantwell
