// Helpers shared by the daemon's tests: file modes and existence, beside
// the temporary directories and files of TestPeers.h.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TestPeers.h"  // TempDir, readFile, writeFile

namespace brantwell::test {

inline mode_t fileMode(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

inline bool exists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

} // namespace brantwell::test
