// Reading a certificate, key or CA file the daemon is told to trust.
#pragma once

#include <string>

namespace brantwell {

// OwnerOnly: a key, or a file the reception's rules keep private (chmod
// 600). OthersMayRead: a CA certificate, public by nature, that nobody but
// its owner may change.
enum class FileAccess { OwnerOnly, OthersMayRead };

// Reads `path` into `contents` when it is a regular file, not a link, owned
// by root (or by the user the daemon runs as) that nobody else may write
// (nor read, with OwnerOnly); returns why not otherwise (and `contents` is
// not to be used). The file is opened once and checked on what was opened.
std::string readPrivateFile(const std::string& path, std::string& contents,
                            FileAccess access = FileAccess::OwnerOnly);

} // namespace brantwell
