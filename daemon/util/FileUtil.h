// File helpers of the data directory: permissions, group, safe opening,
// atomic replace, the one-daemon lock.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace brantwell {

inline constexpr mode_t kDataDirectoryMode = 0750;
inline constexpr mode_t kDataFileMode = 0640;
inline constexpr std::string_view kLockFileName = "BrantwellSrv.lock";

// Group id of "brantwell", or -1 when the group does not exist. Works for a
// group of any size (the lookup buffer grows as the entry needs).
gid_t brantwellGroup();

// Sets `mode` and, where the group exists, group "brantwell" on `fd`.
void applyDataPermissions(int fd, mode_t mode);

// Creates `dir` and its missing parents; the last one gets 0750 and the
// group. Returns false when it does not exist afterwards.
bool ensureDataDirectory(const std::string& dir);

// Opens a file of the data directory (a day file, the settings file, their
// temporary files) as only such a file may be: never through a symbolic
// link, only a regular file, only one owned by the daemon's own user. A
// local user who can write to a loose directory could otherwise plant a
// link that makes the daemon append to, copy or read out any file. Returns
// -1 with errno ELOOP (a link), EMEDIUMTYPE (not a regular file), EPERM
// (owned by another user) or what open() said. O_CLOEXEC is always added.
int openDataFile(const std::string& path, int flags, mode_t mode = kDataFileMode);

// What a failed openDataFile (or any file call) means, for a message.
std::string fileErrorText(int error);

// At start, and again when group "brantwell" appears: the directory gets
// 0750 and the daemon's files in it (day files, the settings file and its
// ".bad" copy, the lock file) 0640, owned by the daemon's user and the
// group where it exists. Modes that were looser are said on standard error,
// once each; files that are links, not regular or owned by another user are
// said and left alone (they are never written either).
void enforceDataPermissions(const std::string& dir);

// Replaces `path` with `contents` through an AtomicFileWriter: a reader sees
// the old file or the new one, never a part. An existing file keeps its
// mode; a new one gets `mode`. Returns false, errno set, and leaves the old
// file when any step fails, or when the file there is not one that
// openDataFile would open.
bool writeFileAtomically(const std::string& path, std::string_view contents,
                         mode_t mode = kDataFileMode);

// Whole contents of a file of the data directory, opened by openDataFile;
// false, errno set, when it cannot be read.
bool readWholeFile(const std::string& path, std::string& out);

// Takes the lock file of `dir` for as long as the returned descriptor stays
// open (it closes on exec). -1 when another process holds it; `holder` is
// then its process id as it wrote it (0 when unknown), and errno is
// EWOULDBLOCK, or another error when the lock file could not be opened.
int lockDataDirectory(const std::string& dir, long& holder);

// "dir/name", with exactly one slash between them.
std::string joinPath(std::string_view dir, std::string_view name);

} // namespace brantwell
