// A scratch data directory with event log files and a settings file.
#pragma once

#include <string>

#include <QTemporaryDir>

#include <nlohmann/json.hpp>

namespace brantwell::testkit {

// Seconds since 1970 of a local wall-clock time in the zone in force, for
// the dates of test events (mktime decides daylight saving time).
double localSeconds(int y, int m, int d, int h = 0, int mi = 0, int s = 0);

class StoreDir {
public:
    StoreDir();
    std::string path() const { return dir_.path().toStdString(); }
    // Writes `content` as the file `name` of the directory.
    void write(const std::string& name, const std::string& content) const;
    void writeSettings(const nlohmann::json& settings) const;
    std::string read(const std::string& name) const;  // empty when missing

private:
    QTemporaryDir dir_;
};

} // namespace brantwell::testkit
