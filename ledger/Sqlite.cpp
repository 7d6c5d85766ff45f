#include "ledger/Sqlite.h"

namespace ostrel {

SqlStatement::SqlStatement(sqlite3* db, std::string_view sql)
    : statement(nullptr, &sqlite3_finalize) {
    sqlite3_stmt* prepared = nullptr;
    status = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &prepared, nullptr);
    statement.reset(prepared);
}

SqlStatement& SqlStatement::Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(statement.get(), index, value);
    return *this;
}

SqlStatement& SqlStatement::Bind(int index, std::string_view text) {
    sqlite3_bind_text(statement.get(), index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

SqlStatement& SqlStatement::BindTextOrNull(int index, std::optional<std::string_view> text) {
    return text ? Bind(index, *text) : BindNull(index);
}

SqlStatement& SqlStatement::BindBytes(int index, std::span<const std::uint8_t> bytes) {
    sqlite3_bind_blob(statement.get(), index, bytes.data(), static_cast<int>(bytes.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

SqlStatement& SqlStatement::BindNull(int index) {
    sqlite3_bind_null(statement.get(), index);
    return *this;
}

bool SqlStatement::Step() {
    if (!statement) {
        return false;
    }
    status = sqlite3_step(statement.get());
    return status == SQLITE_ROW;
}

SqlStatement& SqlStatement::Reset() {
    sqlite3_reset(statement.get());
    sqlite3_clear_bindings(statement.get());
    status = SQLITE_OK;
    return *this;
}

std::int64_t SqlStatement::Integer(int column) const {
    return sqlite3_column_int64(statement.get(), column);
}

bool SqlStatement::IsNull(int column) const {
    return sqlite3_column_type(statement.get(), column) == SQLITE_NULL;
}

std::string SqlStatement::Text(int column) const {
    const auto* text = sqlite3_column_text(statement.get(), column);
    const int length = sqlite3_column_bytes(statement.get(), column);
    return text != nullptr ? std::string(reinterpret_cast<const char*>(text), length)
                           : std::string();
}

std::vector<std::uint8_t> SqlStatement::Bytes(int column) const {
    const auto* bytes =
        static_cast<const std::uint8_t*>(sqlite3_column_blob(statement.get(), column));
    const int length = sqlite3_column_bytes(statement.get(), column);
    return bytes != nullptr ? std::vector<std::uint8_t>(bytes, bytes + length)
                            : std::vector<std::uint8_t>();
}

std::optional<SqlDatabase> SqlDatabase::Open(const std::string& path, std::string& error) {
    sqlite3* opened = nullptr;
    const int status =
        sqlite3_open_v2(path.c_str(), &opened,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqlDatabase database(opened);
    if (status != SQLITE_OK) {
        error = opened != nullptr ? sqlite3_errmsg(opened) : sqlite3_errstr(status);
        return std::nullopt;
    }
    return database;
}

bool SqlDatabase::Execute(std::string_view sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db.get(), std::string(sql).c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        error = message != nullptr ? message : LastError();
        sqlite3_free(message);
        return false;
    }
    return true;
}

SqlTransaction::SqlTransaction(SqlDatabase& opened) : database(opened) {
    std::string ignored;
    began = database.Execute("BEGIN IMMEDIATE", ignored);
}

SqlTransaction::~SqlTransaction() {
    if (began && !committed) {
        std::string ignored;
        database.Execute("ROLLBACK", ignored);
    }
}

bool SqlTransaction::Commit(std::string& error) {
    committed = began && database.Execute("COMMIT", error);
    return committed;
}

} // namespace ostrel
