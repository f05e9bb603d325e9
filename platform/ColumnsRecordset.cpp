#include "platform/ColumnsRecordset.h"

#include <filesystem>
#include <fstream>
#include <sqlite3.h>

#include "framework/File.h"
#include "platform/Services.h"

#ifndef VKL_DATA_DIR
#define VKL_DATA_DIR "data"
#endif

namespace {

CString SqliteError(sqlite3* db, const char* what)
{
    CString s;
    s.Format("%s: %s", what, db ? sqlite3_errmsg(db) : "out of memory");
    return s;
}

// Makes the table from the shipped list when the database has none.
void CreateFromShippedList(sqlite3* db)
{
    char* err = nullptr;
    if (sqlite3_exec(db, "CREATE TABLE IF NOT EXISTS Columns(ColumnIndex INTEGER, ColumnName TEXT)", nullptr, nullptr, &err) != SQLITE_OK) {
        const CString text = CString("cannot create the column table: ") + (err ? err : "");
        sqlite3_free(err);
        throw CDBException(text);
    }
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM Columns", -1, &count, nullptr);
    const bool empty = count && sqlite3_step(count) == SQLITE_ROW && sqlite3_column_int(count, 0) == 0;
    sqlite3_finalize(count);
    if (!empty) return;
    std::ifstream in(CColumnsRecordset::ShippedColumnList().c_str());
    if (!in) throw CDBException("the shipped column list " + CColumnsRecordset::ShippedColumnList() + " cannot be read");
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO Columns(ColumnIndex, ColumnName) VALUES(?, ?)", -1, &insert, nullptr) != SQLITE_OK)
        throw CDBException(SqliteError(db, "cannot fill the column table"));
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    std::string line;
    int index = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        sqlite3_bind_int(insert, 1, index++);
        sqlite3_bind_text(insert, 2, line.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

}  // namespace

CColumnsRecordset::~CColumnsRecordset()
{
    Close();
}

CString CColumnsRecordset::DatabasePath()
{
    return Services::HomeDirectory() + "/host.db";
}

CString CColumnsRecordset::ShippedColumnList()
{
    return CString(VKL_DATA_DIR) + "/columns.txt";
}

void CColumnsRecordset::Open(const CString& sortField)
{
    Close();
    if (sortField != "ColumnIndex" && sortField != "ColumnName") throw CDBException("unknown sort field " + sortField);
    const std::string path = CFile::OsPath(DatabasePath());
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const CString text = SqliteError(m_db, ("cannot open " + path).c_str());
        Close();
        throw CDBException(text);
    }
    try {
        CreateFromShippedList(m_db);
    } catch (...) {
        Close();
        throw;
    }
    const std::string sql = "SELECT ColumnIndex, ColumnName FROM Columns ORDER BY " + sortField.str();
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &m_stmt, nullptr) != SQLITE_OK) {
        const CString text = SqliteError(m_db, "cannot read the column table");
        Close();
        throw CDBException(text);
    }
    Fetch();
}

void CColumnsRecordset::Fetch()
{
    if (sqlite3_step(m_stmt) == SQLITE_ROW) {
        m_nColumnIndex = sqlite3_column_int(m_stmt, 0);
        const unsigned char* name = sqlite3_column_text(m_stmt, 1);
        m_strColumnName = name ? reinterpret_cast<const char*>(name) : "";
        m_bEOF = false;
    } else {
        m_bEOF = true;
    }
}

void CColumnsRecordset::MoveNext()
{
    if (m_stmt && !m_bEOF) Fetch();
}

void CColumnsRecordset::Close()
{
    if (m_stmt) sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    if (m_db) sqlite3_close(m_db);
    m_db = nullptr;
    m_bEOF = true;
}
