#include <sqlite3.h>

#include "platform/ColumnsRecordset.h"
#include "tests/support/TestEnv.h"

namespace {
class ColumnsRecordsetTest : public HostFixture {};

std::vector<std::string> Names(const char* sort)
{
    std::vector<std::string> out;
    CColumnsRecordset rs;
    rs.Open(sort);
    for (; !rs.IsEOF(); rs.MoveNext()) out.push_back(rs.m_strColumnName.str());
    return out;
}
}  // namespace

TEST_F(ColumnsRecordsetTest, MadeFromTheShippedListAndSortedBothWays)
{
    const auto byIndex = Names("ColumnIndex");
    ASSERT_EQ(byIndex.size(), 10u);
    EXPECT_EQ(byIndex.front(), "PC Time Stamp");
    EXPECT_EQ(byIndex.back(), "Symbol");
    EXPECT_TRUE(FileExists(Path("host.db")));
    const auto byName = Names("ColumnName");
    ASSERT_EQ(byName.size(), 10u);
    EXPECT_TRUE(std::is_sorted(byName.begin(), byName.end()));
    EXPECT_EQ(byName.front(), "Data");
}

TEST_F(ColumnsRecordsetTest, ReadsTheHostsOwnTable)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("host.db").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE Columns(ColumnIndex INTEGER, ColumnName TEXT);"
                     "INSERT INTO Columns VALUES(2,'Alpha'),(1,'Zulu'),(3,'Mike');",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(Names("ColumnIndex"), (std::vector<std::string>{"Zulu", "Alpha", "Mike"}));
    EXPECT_EQ(Names("ColumnName"), (std::vector<std::string>{"Alpha", "Mike", "Zulu"}));
}

TEST_F(ColumnsRecordsetTest, OpenFailuresRaiseTheDatabaseException)
{
    CColumnsRecordset rs;
    EXPECT_THROW(rs.Open("ColumnName; DROP TABLE Columns"), CDBException);
    WriteAll(Path("host.db"), std::vector<uint8_t>(100, 'x'));  // not a database
    EXPECT_THROW(rs.Open("ColumnIndex"), CDBException);
    EXPECT_FALSE(rs.IsOpen());
}
