// A file that is written beside its target and renamed over it on commit,
// so that a reader of the target sees the old file or the new one, never a
// part. Writes are buffered; nothing reaches the target before commit().
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace brantwell {

class AtomicFileWriter {
public:
    // Any: a path the user chose (an export); whatever is there is replaced.
    // DataFile: a file of the data directory; an existing target that is a
    // link, not a regular file or another user's is refused (error() is
    // ELOOP, EMEDIUMTYPE or EPERM) and nothing is written.
    enum class Target { Any, DataFile };

    // Creates the temporary file (never through a link). The new file takes
    // the target's mode when the target exists, else `newFileMode`, and
    // group "brantwell".
    AtomicFileWriter(std::string target, mode_t newFileMode, Target kind = Target::Any);
    ~AtomicFileWriter();  // removes the temporary file unless committed
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(std::string_view data);
    // Appends bytes [from, to) of the open file `fd`, copied in the kernel
    // where it can (copy_file_range), without passing through this process.
    void copyFrom(int fd, off_t from, off_t to);
    // Flushes and syncs what was written so far; the file stays open.
    void sync();
    // Bytes written so far.
    off_t size() const { return written_ + static_cast<off_t>(buffer_.size()); }

    // Flushes, syncs (with Sync::Yes), renames over the target and syncs
    // the directory, without which a power cut could undo the rename. False
    // when this or any earlier step failed (the target left as it was,
    // unless only the directory's sync failed); error() tells why. Sync::No
    // is for a caller that synced most of the file with sync() and must not
    // wait for the disk at the rename: it syncs the directory itself
    // (syncDirectoryOf) before it reports the rewrite as done.
    enum class Sync { Yes, No };
    bool commit(Sync sync = Sync::Yes);
    int error() const { return error_; }

private:
    void flush();

    std::string target_, temp_;
    int fd_ = -1;
    int error_ = 0;
    off_t written_ = 0;  // bytes that reached the file
    std::string buffer_;
};

// Syncs the directory that holds `path`, so that a rename or removal there
// outlasts a power cut. 0, or the errno of the failed step.
int syncDirectoryOf(const std::string& path);

} // namespace brantwell
