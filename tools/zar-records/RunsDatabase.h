// The runs in SQLite, as a firmware-update daemon keeps its history (fwupd's
// src/fu-history.c): a derived index of the logs, rebuilt from them at any
// time. The logs on the sticks stay the record of what happened: SQLite's own
// "Atomic Commit" notes assume a disk that flushes as asked, which a FAT stick
// pulled after an EC restart is not.
#pragma once

#include <string>
#include <vector>

#include "tools/zar-records/Runs.h"

struct sqlite3;

namespace zar::records {

class RunsDatabase {
public:
    RunsDatabase() = default;
    ~RunsDatabase();
    RunsDatabase(const RunsDatabase&) = delete;
    RunsDatabase& operator=(const RunsDatabase&) = delete;

    // Opens the database at path, creating it (with the schema) only when
    // create is set. False, with *error saying why, when it can't be opened,
    // is not a zar-records database, or was made with a newer schema.
    [[nodiscard]] bool Open(const std::string& path, bool create, std::string* error);

    // Adds the runs whose record is not there yet, all or none; *added says
    // how many were new.
    [[nodiscard]] bool Import(const std::vector<Run>& runs, int* added, std::string* error);

    // Every run, the earliest first (runs without a date last, in the order
    // they were imported).
    [[nodiscard]] bool LoadAll(std::vector<Run>* runs, std::string* error);

private:
    [[nodiscard]] bool Execute(const std::string& sql, std::string* error);
    [[nodiscard]] bool QueryNumber(const char* sql, long long* value, std::string* error);
    [[nodiscard]] bool CreateSchema(std::string* error);
    std::string Failure(const std::string& what) const;

    sqlite3* db_ = nullptr;
};

}  // namespace zar::records
