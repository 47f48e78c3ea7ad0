// The periodic exports: every `textInterval` minutes the whole store to the
// text file at `textLocation`, every `databaseInterval` minutes to the
// SQLite database at `databaseLocation`.
//
// A round a minute looks at one settings snapshot. An export is due when its
// interval is above 0 and at least that many minutes have passed since the
// end of its previous export (the first is due at once). The two exports
// run one after the other on this thread, never at the same time. An
// interval set with an empty location, or a text location that ends in
// neither ".txt" nor ".csv", exports nothing and is reported; the next
// round looks again.
#pragma once

#include <functional>
#include <optional>
#include <stop_token>

#include "DateFormat.h"
#include "util/FailureReport.h"

namespace brantwell {

class EventStore;
class SettingsPipe;
struct Settings;

class ExportThread {
public:
    using Clock = std::function<double()>;  // seconds since 1970

    ExportThread(SettingsPipe& settings, EventStore& store, Clock clock = {});

    struct Round {
        bool text = false;      // a text export was written
        bool database = false;  // a database export was committed
    };
    Round runRound();

    // A round at once, then one a minute until `stop` is requested.
    void run(std::stop_token stop);

private:
    bool exportTextNow(const Settings& settings);
    bool exportDatabaseNow(const Settings& settings);

    SettingsPipe& settings_;
    EventStore& store_;
    Clock clock_;
    double lastTextExport_ = 0;  // end of the last attempt, seconds since 1970
    double lastDatabaseExport_ = 0;
    std::optional<DateFormatter> dates_;  // made on this thread, for the setting in force
    FailureReport textReport_, databaseReport_;
};

} // namespace brantwell
