#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// One prepared statement: bind by position (from 1), step, read columns (from 0).
class SqlStatement {
public:
    SqlStatement(sqlite3* db, std::string_view sql);

    bool Prepared() const { return statement != nullptr; }
    SqlStatement& Bind(int index, std::int64_t value);
    SqlStatement& Bind(int index, std::string_view text);
    SqlStatement& BindTextOrNull(int index, std::optional<std::string_view> text);
    SqlStatement& BindBytes(int index, std::span<const std::uint8_t> bytes);
    SqlStatement& BindNull(int index);
    // True while a row is there; false at the end or on an error (the database tells which).
    bool Step();
    // Ready to run again, with new bindings.
    SqlStatement& Reset();
    bool Done() const { return status == SQLITE_DONE; }
    int Status() const { return status; }
    std::int64_t Integer(int column) const;
    bool IsNull(int column) const;
    std::string Text(int column) const;
    std::vector<std::uint8_t> Bytes(int column) const;

private:
    std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement;
    int status = SQLITE_OK;
};

// A connection. Statements are made from it and must not outlive it.
class SqlDatabase {
public:
    // Opens an existing file or makes it; nothing, with SQLite's reason, when it cannot.
    static std::optional<SqlDatabase> Open(const std::string& path, std::string& error);

    sqlite3* Get() const { return db.get(); }
    // Runs statements that return no rows; false with the reason on the first error.
    bool Execute(std::string_view sql, std::string& error);
    SqlStatement Prepare(std::string_view sql) const { return SqlStatement(db.get(), sql); }
    std::string LastError() const { return sqlite3_errmsg(db.get()); }
    std::int64_t LastRowId() const { return sqlite3_last_insert_rowid(db.get()); }

private:
    explicit SqlDatabase(sqlite3* opened) : db(opened, &sqlite3_close_v2) {}

    std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)> db;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class SqlTransaction {
public:
    explicit SqlTransaction(SqlDatabase& database);
    SqlTransaction(const SqlTransaction&) = delete;
    SqlTransaction& operator=(const SqlTransaction&) = delete;
    ~SqlTransaction();

    bool Began() const { return began; }
    bool Commit(std::string& error);

private:
    SqlDatabase& database;
    bool began = false;
    bool committed = false;
};

} // namespace ostrel
