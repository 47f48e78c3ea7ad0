// File helpers of the data directory: permissions, group, atomic replace.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace brantwell {

inline constexpr mode_t kDataDirectoryMode = 0750;
inline constexpr mode_t kDataFileMode = 0640;

// Group id of "brantwell", or -1 when the group does not exist.
gid_t brantwellGroup();

// Sets `mode` and, where the group exists, group "brantwell" on `fd`.
void applyDataPermissions(int fd, mode_t mode);

// Creates `dir` and its missing parents; the last one gets 0750 and the
// group. Returns false when it does not exist afterwards.
bool ensureDataDirectory(const std::string& dir);

// Replaces `path` with `contents` through an AtomicFileWriter: a reader sees
// the old file or the new one, never a part. An existing file keeps its
// mode; a new one gets `mode`. Returns false and leaves the old file when
// any step fails.
bool writeFileAtomically(const std::string& path, std::string_view contents,
                         mode_t mode = kDataFileMode);

// Whole contents of a file; false when it cannot be read.
bool readWholeFile(const std::string& path, std::string& out);

// "dir/name", with exactly one slash between them.
std::string joinPath(std::string_view dir, std::string_view name);

} // namespace brantwell
