#pragma once
// The host's column list: a record set over the table Columns(ColumnIndex, ColumnName)
// of the host database, a SQLite file "host.db" in the tool directory. A database that
// does not exist yet is made from the column list shipped in data/columns.txt.
#include "framework/Exceptions.h"
#include "framework/String.h"

struct sqlite3;
struct sqlite3_stmt;

class CColumnsRecordset {
public:
    CColumnsRecordset() = default;
    ~CColumnsRecordset();
    CColumnsRecordset(const CColumnsRecordset&) = delete;
    CColumnsRecordset& operator=(const CColumnsRecordset&) = delete;

    // Opens sorted by "ColumnIndex" or "ColumnName"; throws CDBException.
    void Open(const CString& sortField);
    bool IsOpen() const { return m_stmt != nullptr; }
    bool IsEOF() const { return m_bEOF; }
    void MoveNext();
    void Close();

    // The database file, and the shipped list it is made from.
    static CString DatabasePath();
    static CString ShippedColumnList();

    CString m_strColumnName;  // bound to ColumnName of the current record
    int m_nColumnIndex = 0;

private:
    void Fetch();
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_bEOF = true;
};
