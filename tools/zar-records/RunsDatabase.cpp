#include "tools/zar-records/RunsDatabase.h"

#include <sqlite3.h>

namespace zar::records {
namespace {

// Another program holding the database (a second import, a viewer) is waited
// for this long, then the import gives up.
constexpr int BUSY_WAIT_MS = 5000;

std::string ColumnList()
{
    std::string list;
    for (const Column& column : COLUMNS)
        list += std::string(list.empty() ? "" : ", ") + column.Name;
    return list;
}

const char* TypeName(ColType type)
{
    return type == ColType::Integer ? "INTEGER" : type == ColType::Blob ? "BLOB" : "TEXT";
}

// A statement that is finalised whatever way the function leaves.
struct Statement {
    sqlite3_stmt* Handle = nullptr;
    ~Statement() { sqlite3_finalize(Handle); }
};

bool Bind(sqlite3_stmt* statement, int index, const Value& value, ColType type)
{
    if (value.Integer)
        return sqlite3_bind_int64(statement, index, *value.Integer) == SQLITE_OK;
    if (!value.Text)
        return sqlite3_bind_null(statement, index) == SQLITE_OK;
    const std::string& text = *value.Text;
    if (type == ColType::Blob)
        return sqlite3_bind_blob64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT) == SQLITE_OK;
    return sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) ==
           SQLITE_OK;
}

Value ColumnValue(sqlite3_stmt* statement, int index)
{
    Value value;
    switch (sqlite3_column_type(statement, index)) {
    case SQLITE_INTEGER:
        value.Integer = sqlite3_column_int64(statement, index);
        break;
    case SQLITE_NULL:
        break;
    default: {
        auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, index));
        value.Text = std::string(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(statement, index)));
        break;
    }
    }
    return value;
}

}  // namespace

RunsDatabase::~RunsDatabase()
{
    sqlite3_close(db_);
}

std::string RunsDatabase::Failure(const std::string& what) const
{
    return what + " (" + (db_ ? sqlite3_errmsg(db_) : "out of memory") + ")";
}

bool RunsDatabase::Execute(const std::string& sql, std::string* error)
{
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    *error = Failure("the database refused a change");
    return false;
}

bool RunsDatabase::QueryNumber(const char* sql, long long* value, std::string* error)
{
    Statement query;
    if (sqlite3_prepare_v2(db_, sql, -1, &query.Handle, nullptr) != SQLITE_OK ||
        sqlite3_step(query.Handle) != SQLITE_ROW) {
        *error = Failure("it can't be read as a database");
        return false;
    }
    *value = sqlite3_column_int64(query.Handle, 0);
    return true;
}

bool RunsDatabase::CreateSchema(std::string* error)
{
    std::string table = "CREATE TABLE runs (id INTEGER PRIMARY KEY";
    for (const Column& column : COLUMNS)
        table += std::string(", ") + column.Name + " " + TypeName(column.Type);
    table += ", UNIQUE (record))";
    return Execute("BEGIN IMMEDIATE", error) && Execute(table, error) &&
           Execute("CREATE INDEX runs_serial ON runs (serial)", error) &&
           Execute("PRAGMA user_version = " + std::to_string(SCHEMA_VERSION), error) && Execute("COMMIT", error);
}

bool RunsDatabase::Open(const std::string& path, bool create, std::string* error)
{
    int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        *error = Failure("it can't be opened");
        return false;
    }
    sqlite3_busy_timeout(db_, BUSY_WAIT_MS);
    long long version = 0, objects = 0;
    if (!QueryNumber("PRAGMA user_version", &version, error) ||
        !QueryNumber("SELECT count(*) FROM sqlite_schema", &objects, error))
        return false;
    if (version == 0 && objects == 0)
        return CreateSchema(error);
    if (version > SCHEMA_VERSION) {
        *error = "its schema is version " + std::to_string(version) + ", made by a newer zar-records (this one knows " +
                 std::to_string(SCHEMA_VERSION) + ")";
        return false;
    }
    if (version != SCHEMA_VERSION) {
        *error = "it is a database, but not one of zar-records (no schema version)";
        return false;
    }
    return true;
}

bool RunsDatabase::Import(const std::vector<Run>& runs, int* added, std::string* error)
{
    *added = 0;
    std::string marks;
    for (size_t i = 0; i < COLUMN_COUNT; ++i)
        marks += i ? ", ?" : "?";
    std::string sql = "INSERT OR IGNORE INTO runs (" + ColumnList() + ") VALUES (" + marks + ")";
    Statement insert;
    if (!Execute("BEGIN IMMEDIATE", error))
        return false;
    bool good = sqlite3_prepare_v2(db_, sql.c_str(), -1, &insert.Handle, nullptr) == SQLITE_OK;
    for (size_t r = 0; good && r < runs.size(); ++r) {
        for (size_t i = 0; good && i < COLUMN_COUNT; ++i)
            good = Bind(insert.Handle, static_cast<int>(i + 1), runs[r].Values[i], COLUMNS[i].Type);
        good = good && sqlite3_step(insert.Handle) == SQLITE_DONE;
        *added += good ? sqlite3_changes(db_) : 0;
        sqlite3_reset(insert.Handle);
    }
    if (good)
        return Execute("COMMIT", error);
    *error = Failure("the runs could not be stored");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    *added = 0;
    return false;
}

bool RunsDatabase::LoadAll(std::vector<Run>* runs, std::string* error)
{
    std::string sql = "SELECT id, " + ColumnList() + " FROM runs ORDER BY started IS NULL, started, id";
    Statement select;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &select.Handle, nullptr) != SQLITE_OK) {
        *error = Failure("its runs can't be read");
        return false;
    }
    int step;
    while ((step = sqlite3_step(select.Handle)) == SQLITE_ROW) {
        Run run;
        run.Id = sqlite3_column_int64(select.Handle, 0);
        for (size_t i = 0; i < COLUMN_COUNT; ++i)
            run.Values[i] = ColumnValue(select.Handle, static_cast<int>(i + 1));
        runs->push_back(std::move(run));
    }
    if (step == SQLITE_DONE)
        return true;
    *error = Failure("its runs can't be read");
    return false;
}

}  // namespace zar::records
