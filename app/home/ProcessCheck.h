// Whether a process runs, by the kernel's short command name.
#pragma once

#include <string>
#include <string_view>

namespace brantwell {

inline constexpr std::string_view kDaemonProcessName = "BrantwellSrv";

// True when some /proc/<pid>/comm of `procRoot` equals `name` exactly (a
// name that only begins with it does not count). An unreadable process
// table gives false.
bool isProcessRunning(std::string_view name, const std::string& procRoot = "/proc");

} // namespace brantwell
