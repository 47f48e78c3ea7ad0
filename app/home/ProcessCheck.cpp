#include "ProcessCheck.h"

#include <cctype>
#include <dirent.h>
#include <fstream>

namespace brantwell {

bool isProcessRunning(std::string_view name, const std::string& procRoot)
{
    DIR* dir = ::opendir(procRoot.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view pid = entry->d_name;
        if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid.front())))
            continue;
        // A process may end between the listing and the read: skip it.
        std::ifstream comm(procRoot + "/" + std::string(pid) + "/comm");
        std::string command;
        if (!comm || !std::getline(comm, command))
            continue;
        if (command == name) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

} // namespace brantwell
