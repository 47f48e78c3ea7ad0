// Runs the real brantwellctl binary for end-to-end tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace brantwell::test {

struct CtlResult {
    int exit = -1;
    std::string out;
};

// Runs `ctlPath args` through the shell; `prefix` may run it as another
// user or with another environment. `out` is standard output, followed by
// standard error when `withStderr` (else standard error is dropped).
inline CtlResult runCtl(const std::string& ctlPath, const std::string& args, const std::string& prefix = "",
                        bool withStderr = false)
{
    const std::string command = prefix + " " + ctlPath + " " + args + (withStderr ? " 2>&1" : " 2>/dev/null");
    CtlResult r;
    FILE* p = ::popen(command.c_str(), "r");
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        r.out.append(buffer, n);
    const int status = ::pclose(p);
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

} // namespace brantwell::test
