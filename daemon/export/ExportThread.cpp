#include "ExportThread.h"

#include <chrono>
#include <cstring>
#include <filesystem>

#include "DatabaseExport.h"
#include "EventRecord.h"
#include "store/EventStore.h"
#include "SettingsKeys.h"
#include "util/ProblemBoard.h"
#include "util/RoundWait.h"
#include "settings/SettingsPipe.h"
#include "TextExport.h"

namespace brantwell {

namespace {

double systemNow()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool due(std::int64_t intervalMinutes, double last, double now)
{
    return intervalMinutes > 0 && now - last >= static_cast<double>(intervalMinutes) * 60.0;
}

// A database file named like a file the daemon itself keeps in the data
// directory would be written by two owners and wreck both.
bool isStoreFile(const std::string& location, const std::string& storeDirectory)
{
    std::error_code ec;
    const auto target = std::filesystem::weakly_canonical(location, ec);
    const auto store = std::filesystem::weakly_canonical(storeDirectory, ec);
    if (target.parent_path() != store)
        return false;
    const std::string name = target.filename().string();
    return isEventLogFileName(name) || name.rfind(kSettingsFileName, 0) == 0;
}

} // namespace

ExportThread::ExportThread(SettingsPipe& settings, EventStore& store, Clock clock)
    : settings_(settings), store_(store), clock_(clock ? std::move(clock) : Clock(systemNow))
{
}

ExportThread::Round ExportThread::runRound()
{
    const auto settings = settings_.snapshot();
    Round round;
    if (due(settings->iTextInterval, lastTextExport_, clock_()))
        round.text = exportTextNow(*settings);
    if (due(settings->iDatabaseInterval, lastDatabaseExport_, clock_()))
        round.database = exportDatabaseNow(*settings);
    return round;
}

namespace {

// Said on standard error and kept for the status call.
void reportText(FailureReport& report, const char* kind, const std::string& text)
{
    report.report(text);
    ProblemBoard::process().set(kind, text);
}

} // namespace

bool ExportThread::exportTextNow(const Settings& settings)
{
    const auto& location = settings.textLocationString;
    if (location.empty()) {
        reportText(textReport_, kTextExportProblem, "textInterval is set but textLocation is empty: no text export");
        return false;
    }
    const auto separator = textExportSeparator(location);
    if (!separator) {
        reportText(textReport_, kTextExportProblem, "text export location " + location + " ends in neither .txt nor .csv: no text export");
        return false;
    }
    if (!dates_ || dates_->setting() != settings.dateFormat)
        dates_.emplace(settings.dateFormat);
    const auto result = exportText(store_, location, *separator, *dates_);
    lastTextExport_ = clock_();
    if (!result.ok) {
        reportText(textReport_, kTextExportProblem, "cannot write the text export " + location + ": " + std::strerror(result.error));
        return false;
    }
    textReport_.clear();
    ProblemBoard::process().clear(kTextExportProblem);
    return true;
}

bool ExportThread::exportDatabaseNow(const Settings& settings)
{
    const auto& location = settings.databaseLocationString;
    if (location.empty()) {
        reportText(databaseReport_, kDatabaseExportProblem, "databaseInterval is set but databaseLocation is empty: no database export");
        return false;
    }
    if (isStoreFile(location, store_.directory())) {
        reportText(databaseReport_, kDatabaseExportProblem, "database export location " + location
                               + " is a file of the event store: no database export");
        return false;
    }
    const auto result = exportDatabase(store_, location);
    lastDatabaseExport_ = clock_();
    if (!result.ok) {
        reportText(databaseReport_, kDatabaseExportProblem, "cannot export to the database " + location + ": " + result.error);
        return false;
    }
    databaseReport_.clear();
    ProblemBoard::process().clear(kDatabaseExportProblem);
    return true;
}

void ExportThread::run(std::stop_token stop)
{
    do
        runRound();
    while (waitForNextRound(stop));
}

} // namespace brantwell
