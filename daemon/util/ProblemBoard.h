// What the daemon's periodic and action threads know is wrong now (an
// export with no location, a mail the server refused), kept so that the
// status call can tell it to the application and brantwellctl: standard
// error alone reaches nobody who sits at the desktop. One board per process;
// a problem stays until the next attempt of the same kind succeeds.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace brantwell {

class ProblemBoard {
public:
    // `kind` is the status key it appears under ("textExportProblem", ...).
    void set(const std::string& kind, std::string text)
    {
        std::lock_guard lock(mutex_);
        problems_[kind] = std::move(text);
    }
    void clear(const std::string& kind)
    {
        std::lock_guard lock(mutex_);
        problems_.erase(kind);
    }
    std::map<std::string, std::string> all() const
    {
        std::lock_guard lock(mutex_);
        return problems_;
    }

    static ProblemBoard& process()
    {
        static ProblemBoard board;
        return board;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> problems_;
};

inline constexpr const char* kTextExportProblem = "textExportProblem";
inline constexpr const char* kDatabaseExportProblem = "databaseExportProblem";
inline constexpr const char* kMailProblem = "mailProblem";

} // namespace brantwell
