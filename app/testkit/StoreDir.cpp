#include "StoreDir.h"

#include <fstream>
#include <sstream>

namespace brantwell::testkit {

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
