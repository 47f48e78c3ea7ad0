// The database export: an SQLite table "Brantwell" with the columns
// Occurrence (the Date field as stored), Priority, Host and Message, kept
// equal to the set of distinct event records in the store.
//
// Each round, in one transaction: rows whose record has left the store, and
// second copies of a record, are deleted; records new to the table are
// inserted in store order, so a record stored twice is one row. Values go
// in as bound parameters, so any text of any length is stored as it is. An
// index over the four columns serves readers that look rows up. A failed
// round rolls back and leaves the table as it was.
#pragma once

#include <cstddef>
#include <string>

namespace brantwell {

class EventStore;

struct DatabaseExportResult {
    bool ok = false;
    std::string error;  // SQLite's message when not ok
    std::size_t inserted = 0;
    std::size_t deleted = 0;
    std::size_t rows = 0;  // rows in the table after the round
};

DatabaseExportResult exportDatabase(const EventStore& store, const std::string& path);

// The statement that creates the table, kept as readers of older databases know it.
inline constexpr const char* kCreateTableStatement =
    "create table if not exists Brantwell (Occurrence TEXT,Priority TEXT,Host TEXT,Message TEXT)";

} // namespace brantwell
