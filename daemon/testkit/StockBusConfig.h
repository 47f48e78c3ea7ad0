// The configuration of a private test bus: Debian's own system bus
// configuration (/usr/share/dbus-1/system.conf: deny method calls and name
// ownership by default) with only what a private bus must change (its own
// listen address; no user switch, fork, pid file, syslog, activation or the
// machine's policy directories) and the project's policy file included, as
// a package installs it. What the channel does then is what it does on a
// Debian system bus.
#pragma once

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>

namespace brantwell::test {

inline std::string stockSystemBusConfig(const std::string& listen,
                                        const std::string& policyFile = BRANTWELL_POLICY_FILE,
                                        const std::string& stockFile = "/usr/share/dbus-1/system.conf")
{
    std::ifstream in(stockFile);
    if (!in)
        throw std::runtime_error("no stock bus configuration at " + stockFile + " (package dbus)");
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string config = buffer.str();
    const auto drop = [&config](const char* pattern) {
        config = std::regex_replace(config, std::regex(pattern), "");
    };
    // What only the machine's own bus may do or read.
    drop(R"(<user>[^<]*</user>)");
    drop(R"(<fork\s*/>)");
    drop(R"(<pidfile>[^<]*</pidfile>)");
    drop(R"(<syslog\s*/>)");
    drop(R"(<standard_system_servicedirs\s*/>)");
    drop(R"(<servicehelper>[^<]*</servicehelper>)");
    drop(R"(<includedir>[^<]*</includedir>)");
    drop(R"(<include\b[^>]*>[^<]*</include>)");
    const std::regex listenTag(R"(<listen>[^<]*</listen>)");
    if (!std::regex_search(config, listenTag) || config.find("<policy context=\"default\">") == std::string::npos)
        throw std::runtime_error(stockFile + " is not the stock system bus configuration this test expects");
    config = std::regex_replace(config, listenTag, "<listen>" + listen + "</listen>");
    const auto end = config.rfind("</busconfig>");
    if (end == std::string::npos)
        throw std::runtime_error(stockFile + " has no </busconfig>");
    if (!policyFile.empty())
        config.insert(end, "  <include>" + policyFile + "</include>\n");
    return config;
}

} // namespace brantwell::test
