#include <sqlite3.h>

#include "platform/ColumnsRecordset.h"
#include "tests/support/TestEnv.h"

namespace {
class ColumnsRecordsetTest : public HostFixture {
protected:
    void MakeDatabase(const char* sql)
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Path("host.db").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    // The column names in the given order; nothing is bound past the end, and a step
    // there is harmless.
    static std::vector<std::string> Names(const char* sort)
    {
        std::vector<std::string> out;
        CColumnsRecordset rs;
        rs.Open(sort);
        EXPECT_TRUE(rs.IsOpen());
        for (; !rs.IsEOF(); rs.MoveNext()) out.push_back(rs.m_strColumnName.str());
        EXPECT_TRUE(rs.m_strColumnName.IsEmpty());
        rs.MoveNext();
        EXPECT_TRUE(rs.IsEOF());
        return out;
    }
};
}  // namespace

TEST_F(ColumnsRecordsetTest, ReadsTheHostsOwnTable)
{
    MakeDatabase(
        "CREATE TABLE Columns(ColumnIndex INTEGER, ColumnName TEXT);"
        "INSERT INTO Columns VALUES(2,'alpha'),(1,'Zulu'),(3,'Mike'),(0,NULL);");
    EXPECT_EQ(Names("ColumnIndex"), (std::vector<std::string>{"", "Zulu", "alpha", "Mike"}));
    // Alphabetical as a person reads it: case does not order the names.
    EXPECT_EQ(Names("ColumnName"), (std::vector<std::string>{"", "alpha", "Mike", "Zulu"}));
}

TEST_F(ColumnsRecordsetTest, OpenFailuresRaiseTheDatabaseExceptionAndChangeNothing)
{
    CColumnsRecordset rs;
    EXPECT_THROW(rs.Open("ColumnName; DROP TABLE Columns"), CDBException);
    EXPECT_FALSE(FileExists(Path("host.db")));  // refused before the database was touched

    const std::vector<uint8_t> garbage(100, 'x');
    WriteAll(Path("host.db"), garbage);
    EXPECT_THROW(rs.Open("ColumnIndex"), CDBException);
    EXPECT_FALSE(rs.IsOpen());
    EXPECT_EQ(ReadAll(Path("host.db")), garbage);

    // A database of the host without the column table is only read, never filled.
    std::remove(Path("host.db").c_str());
    MakeDatabase("CREATE TABLE Other(x INTEGER);");
    const std::vector<uint8_t> before = ReadAll(Path("host.db"));
    try {
        rs.Open("ColumnName");
        ADD_FAILURE() << "opened a database without the column table";
    } catch (const CDBException& e) {
        EXPECT_NE(e.GetErrorMessage().Find("Columns"), -1) << e.GetErrorMessage();
    }
    EXPECT_EQ(ReadAll(Path("host.db")), before);
}
