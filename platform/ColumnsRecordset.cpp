#include "platform/ColumnsRecordset.h"

#include <fstream>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/File.h"
#include "platform/Services.h"

namespace {

constexpr const char* kCreateTable = "CREATE TABLE Columns(ColumnIndex INTEGER, ColumnName TEXT)";
constexpr const char* kInsert = "INSERT INTO Columns(ColumnIndex, ColumnName) VALUES(?, ?)";
constexpr int kBusyTimeoutMs = 5000;

// Owns one connection; closing is the destructor's.
class Connection {
public:
    Connection(const std::string& path, int flags)
    {
        if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
            const CDBException failure(CString("cannot open the host database " + path + ": " +
                                               (m_db ? sqlite3_errmsg(m_db) : "out of memory")));
            sqlite3_close(m_db);  // a failed open still leaves a handle to release
            throw failure;
        }
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    }
    ~Connection() { sqlite3_close(m_db); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* get() const { return m_db; }
    void Exec(const char* sql, const std::string& what)
    {
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(what);
    }
    [[noreturn]] void Fail(const std::string& what) const
    {
        throw CDBException(CString(what + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory")));
    }

private:
    sqlite3* m_db = nullptr;
};

class Statement {
public:
    Statement(Connection& db, const char* sql, const std::string& what)
    {
        if (sqlite3_prepare_v2(db.get(), sql, -1, &m_stmt, nullptr) != SQLITE_OK) db.Fail(what);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

std::vector<std::string> ReadShippedList()
{
    const std::string path = CFile::OsPath(CColumnsRecordset::ShippedColumnList());
    std::ifstream in(path);
    if (!in) throw CDBException(CString("cannot read the shipped column list " + path));
    std::vector<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) names.push_back(line);
    }
    return names;
}

// Builds the database beside its final name and renames it into place, so a reader
// (or a second process making it at the same time) never sees a half-filled table.
void CreateDatabase(const std::string& path)
{
    const std::vector<std::string> names = ReadShippedList();
    const std::string temp = path + ".new." + std::to_string(::getpid());
    ::unlink(temp.c_str());
    try {
        Connection db(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.Exec("BEGIN", "cannot create the host database " + path);
        db.Exec(kCreateTable, "cannot create the column table in " + path);
        Statement insert(db, kInsert, "cannot fill the column table in " + path);
        for (size_t i = 0; i < names.size(); ++i) {
            sqlite3_bind_int(insert.get(), 1, static_cast<int>(i));
            sqlite3_bind_text(insert.get(), 2, names[i].data(), static_cast<int>(names[i].size()), SQLITE_STATIC);
            if (sqlite3_step(insert.get()) != SQLITE_DONE) db.Fail("cannot fill the column table in " + path);
            sqlite3_reset(insert.get());
        }
        db.Exec("COMMIT", "cannot create the host database " + path);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        throw CDBException(CString("cannot create the host database " + path));
    }
}

}  // namespace

CString CColumnsRecordset::DatabasePath()
{
    return Services::HomeDirectory() + "/host.db";
}

CString CColumnsRecordset::ShippedColumnList()
{
    return Services::DataDirectory() + "/columns.txt";
}

void CColumnsRecordset::Open(const CString& sortField)
{
    Close();
    const char* sql = nullptr;
    if (sortField == "ColumnIndex")
        sql = "SELECT ColumnIndex, ColumnName FROM Columns ORDER BY ColumnIndex, rowid";
    else if (sortField == "ColumnName")
        sql = "SELECT ColumnIndex, ColumnName FROM Columns ORDER BY ColumnName COLLATE NOCASE, ColumnName, ColumnIndex";
    else
        throw CDBException("cannot sort the column list by \"" + sortField + "\"");

    const std::string path = CFile::OsPath(DatabasePath());
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) CreateDatabase(path);

    Connection db(path, SQLITE_OPEN_READONLY);
    Statement query(db, sql, "cannot read the column table of " + path);
    std::vector<Record> records;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(query.get())) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 1));
        const int length = sqlite3_column_bytes(query.get(), 1);
        records.push_back({sqlite3_column_int(query.get(), 0), name ? CString(name, length) : CString()});
    }
    if (rc != SQLITE_DONE) db.Fail("cannot read the column table of " + path);

    m_records = std::move(records);
    m_nCurrent = 0;
    m_bOpen = true;
    Bind();
}

void CColumnsRecordset::MoveNext()
{
    if (IsEOF()) return;
    ++m_nCurrent;
    Bind();
}

void CColumnsRecordset::Close()
{
    m_records.clear();
    m_nCurrent = 0;
    m_bOpen = false;
    Bind();
}

void CColumnsRecordset::Bind()
{
    if (IsEOF()) {
        m_strColumnName.Empty();
        m_nColumnIndex = 0;
    } else {
        m_strColumnName = m_records[m_nCurrent].strName;
        m_nColumnIndex = m_records[m_nCurrent].nIndex;
    }
}
