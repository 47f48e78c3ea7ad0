// Prints, for the package test, the line the settings manual page gives each
// key the daemon knows: "NAME<TAB>(TYPE, default VALUE)" or
// "NAME<TAB>(TYPE, no default)", with string defaults quoted and written as
// roff source (a backslash as \e, CR LF as \er\en).
#include <cstdio>
#include <string>

#include "SettingsKeys.h"

namespace {

const char* typeName(brantwell::ValueKind kind)
{
    switch (kind) {
    case brantwell::ValueKind::Integer: return "integer";
    case brantwell::ValueKind::Boolean: return "boolean";
    case brantwell::ValueKind::String: return "string";
    case brantwell::ValueKind::StringArray: return "array of strings";
    case brantwell::ValueKind::RecordArray: return "array of records";
    }
    return "?";
}

std::string roffString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\r')
            out += "\\er";
        else if (c == '\n')
            out += "\\en";
        else if (c == '\\')
            out += "\\e";
        else
            out += c;
    }
    return out + "\"";
}

} // namespace

int main()
{
    for (const auto& key : brantwell::settingsKeyTable()) {
        std::string value = "no default";
        if (key.hasDefault) {
            switch (key.kind) {
            case brantwell::ValueKind::Boolean: value = key.defaultInteger ? "default true" : "default false"; break;
            case brantwell::ValueKind::Integer: value = "default " + std::to_string(key.defaultInteger); break;
            case brantwell::ValueKind::String: value = "default " + roffString(key.defaultString); break;
            default: value = "default ?"; break;
            }
        }
        std::printf("%.*s\t(%s, %s)\n", static_cast<int>(key.name.size()), key.name.data(), typeName(key.kind),
                    value.c_str());
    }
    return 0;
}
