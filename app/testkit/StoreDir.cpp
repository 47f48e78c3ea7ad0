#include "StoreDir.h"

#include <ctime>
#include <fstream>
#include <sstream>

namespace brantwell::testkit {

double localSeconds(int y, int m, int d, int h, int mi, int s)
{
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return static_cast<double>(std::mktime(&tm));
}

StoreDir::StoreDir() = default;

void StoreDir::write(const std::string& name, const std::string& content) const
{
    std::ofstream(path() + "/" + name, std::ios::binary | std::ios::trunc) << content;
}

void StoreDir::writeSettings(const nlohmann::json& settings) const
{
    write("Brantwell.ini", settings.dump());
}

std::string StoreDir::read(const std::string& name) const
{
    std::ifstream in(path() + "/" + name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace brantwell::testkit
