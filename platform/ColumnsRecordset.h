#pragma once
// The host's column list: a record set over the table
//
//   Columns(ColumnIndex INTEGER, ColumnName TEXT)
//
// of the host database, the SQLite file "host.db" in the tool directory. A database
// that does not exist yet is made on first use from the column list shipped in
// data/columns.txt (one name per line, in the viewer's order, numbered from 0). An
// existing database is only read.
//
// Open(sort field) reads the whole list in the requested order ("ColumnIndex": the
// viewer's order; "ColumnName": alphabetical, ignoring case) and closes the database
// again; the record set then walks it: IsEOF, MoveNext, and the bound members of the
// current record.
#include <vector>

#include "framework/Exceptions.h"
#include "framework/String.h"

class CColumnsRecordset {
public:
    CColumnsRecordset() = default;
    ~CColumnsRecordset() = default;
    CColumnsRecordset(const CColumnsRecordset&) = delete;
    CColumnsRecordset& operator=(const CColumnsRecordset&) = delete;

    // Opens sorted by "ColumnIndex" or "ColumnName" (any other field is refused).
    // Throws CDBException when the field is refused, the database cannot be made or
    // read, or it has no column table; the record set is then closed.
    void Open(const CString& sortField);
    bool IsOpen() const { return m_bOpen; }
    // True past the last record, and when the record set is not open.
    bool IsEOF() const { return !m_bOpen || m_nCurrent >= m_records.size(); }
    void MoveNext();
    void Close();
    size_t GetRecordCount() const { return m_records.size(); }

    // The database file, and the shipped list it is made from.
    static CString DatabasePath();
    static CString ShippedColumnList();

    // Bound to the current record; empty at the end.
    CString m_strColumnName;
    int m_nColumnIndex = 0;

private:
    struct Record {
        int nIndex;
        CString strName;
    };
    void Bind();

    std::vector<Record> m_records;
    size_t m_nCurrent = 0;
    bool m_bOpen = false;
};
