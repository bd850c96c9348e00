// The SQLite storage (files, URLs, journal, transactions) and the readers of
// argument and address text.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <thread>

#include "Fixture.h"
#include "support/TempTree.h"
#include "server/Arguments.h"
#include "server/HttpServer.h"
#include "server/Records.h"
#include "server/SqliteDatabase.h"

namespace trd::server::testing {
namespace {

// A private directory for database files.
struct TempDir : test::TempTree {
  TempDir() : TempTree("trd-storage") {}
  std::string File(const char* name) const { return Path(name); }
};

TEST(Storage, FileDatabaseKeepsRecordsAndSeedsLanguagesOnce) {
  TempDir dir;
  const std::string path = dir.File("trd.sqlite");
  Rec r;
  {
    auto service = Service::Open("sqlite:" + path);
    auto session = service->Storage().Acquire();
    ApplyChangeSet(*session, TranslationTable(), Changes({Insert(r)}));
    const FieldType text[] = {FieldType::String};
    EXPECT_EQ(std::get<std::string>(session->Query("PRAGMA journal_mode", {}, text).at(0).at(0)), "wal");
  }
  auto service = Service::Open(path);  // the plain path names the same file
  auto session = service->Storage().Acquire();
  EXPECT_EQ(Languages(*session).rows.size(), 3u);
  RecordKey key{r.program, r.form, r.component, r.property, 0, r.language};
  EXPECT_EQ(RecordsOfKey(*session, key).rows.size(), 1u);
}

// The writer checkpoints the WAL itself once it reaches its limit (here the
// checkpointer's thread is never due), so the WAL stays bounded; a second
// server on the same file, with checkpoints of its own, writes and reads
// beside the first.
TEST(Storage, TheWalStaysBoundedWithTwoServersOnOneFile) {
  TempDir dir;
  const std::string path = dir.File("trd.sqlite");
  SqliteOptions options;
  options.wal = {.due_pages = 1 << 30, .limit_pages = 100};
  auto first = OpenSqlite(path, options);
  auto second = OpenSqlite(path);
  first->Acquire()->Execute("CREATE TABLE T (A BLOB)");
  constexpr int kRows = 600;  // about 3 WAL pages each
  for (int i = 0; i < kRows; ++i)
    (i % 10 == 9 ? second : first)->Acquire()->Execute("INSERT INTO T (A) VALUES (randomblob(6000))");
  EXPECT_LT(std::filesystem::file_size(path + "-wal"), 2 * 100 * (4096 + 24));
  const FieldType count[] = {FieldType::Float};
  for (Database* db : {first.get(), second.get()})
    EXPECT_EQ(std::get<double>(db->AcquireReader()->Query("SELECT COUNT(*) FROM T", {}, count).at(0).at(0)), kRows);
}

// Past `due_pages` the checkpointer's thread copies the WAL back into the
// database file (here the writer's own checkpoint never comes), so that the
// writer's commits need not.
TEST(Storage, TheCheckpointerThreadCopiesTheWalBack) {
  TempDir dir;
  const std::string path = dir.File("trd.sqlite");
  SqliteOptions options;
  options.wal = {.due_pages = 30, .limit_pages = 1 << 30};
  auto db = OpenSqlite(path, options);
  db->Acquire()->Execute("CREATE TABLE T (A BLOB)");
  const std::uintmax_t before = std::filesystem::file_size(path);
  constexpr int kRows = 100;  // about 3 WAL pages each
  for (int i = 0; i < kRows; ++i) db->Acquire()->Execute("INSERT INTO T (A) VALUES (randomblob(6000))");
  const std::uintmax_t copied = before + kRows / 2 * 6000;  // all but the last pages
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::filesystem::file_size(path) < copied && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(std::filesystem::file_size(path), copied);
}

TEST(Storage, UnknownSchemesAndMissingDirectoriesAreRefused) {
  EXPECT_THROW(OpenDatabase("mysql://localhost/trd"), StorageError);
  EXPECT_THROW(OpenDatabase(""), StorageError);
  EXPECT_THROW(OpenDatabase("sqlite:"), StorageError);
  EXPECT_THROW(OpenDatabase("/nonexistent-dir/trd.sqlite"), StorageError);
}

TEST(Storage, TransactionRollsBackWhenLeftUncommitted) {
  auto db = OpenDatabase(":memory:");
  auto session = db->Acquire();
  session->Execute("CREATE TABLE T (A VARCHAR(5) NOT NULL, CONSTRAINT PK_T PRIMARY KEY (A))");
  const FieldValue a[] = {std::string("a")};
  try {
    Transaction tx(*session);
    session->Execute("INSERT INTO T (A) VALUES (?)", a);
    session->Execute("INSERT INTO T (A) VALUES (?)", a);
    tx.Commit();
    ADD_FAILURE() << "the duplicate was accepted";
  } catch (const DuplicateKeyError&) {
  }
  const FieldType count[] = {FieldType::Float};
  EXPECT_EQ(std::get<double>(session->Query("SELECT COUNT(*) FROM T", {}, count).at(0).at(0)), 0);
  // The connection is usable for a new transaction afterwards.
  Transaction tx(*session);
  session->Execute("INSERT INTO T (A) VALUES (?)", a);
  tx.Commit();
  EXPECT_EQ(std::get<double>(session->Query("SELECT COUNT(*) FROM T", {}, count).at(0).at(0)), 1);
}

TEST(Arguments, LocaleDateTimeText) {
  EXPECT_EQ(ParseLocaleDateTime("01/05/2024 10:30:15"), DateTime::FromParts(2024, 5, 1, 10, 30, 15));
  EXPECT_EQ(ParseLocaleDateTime("1/5/2024 7:05"), DateTime::FromParts(2024, 5, 1, 7, 5));
  EXPECT_EQ(ParseLocaleDateTime("29/02/2024"), DateTime::FromParts(2024, 2, 29));
  EXPECT_EQ(ParseLocaleDateTime("01/05/2024 10:30:15.250"), DateTime::FromParts(2024, 5, 1, 10, 30, 15, 250));
  for (const char* bad : {"", "29/02/2023", "01/13/2024", "01/05/24", "2024-05-01", "01/05/2024 24:00:00",
                          "01/05/2024 10:61", "01/05/2024x", "01-05-2024"})
    EXPECT_FALSE(ParseLocaleDateTime(bad)) << bad;
}

TEST(Arguments, DecimalText) {
  EXPECT_EQ(ParseDecimal("0"), 0.0);
  EXPECT_EQ(ParseDecimal(" 12 "), 12.0);
  EXPECT_EQ(ParseDecimal("-3.5"), -3.5);
  EXPECT_EQ(ParseDecimal("+2"), 2.0);
  EXPECT_EQ(ParseDecimal("1,5"), 1.5);
  for (const char* bad : {"", " ", "x", "1.2.3", "1,2,3", "1e3", "inf", "nan", "+-1", "0x10", "1 2"})
    EXPECT_FALSE(ParseDecimal(bad)) << bad;
}

TEST(Arguments, Endpoints) {
  auto check = [](std::string_view text, const char* host, int port) {
    Endpoint e = ParseEndpoint(text, 8211, AnyPort::Allow);
    EXPECT_EQ(e.host, host) << text;
    EXPECT_EQ(e.port, port) << text;
  };
  check("127.0.0.1:0", "127.0.0.1", 0);
  check("http://localhost:9000/", "localhost", 9000);
  check("example.org", "example.org", 8211);
  check("[::1]:8300", "::1", 8300);
  EXPECT_THROW(ParseEndpoint("host:0", 8211), Error);
  for (const char* bad : {"", ":80", "host:", "host:65536", "host:8x", "[::1", "http://h:1/path"})
    EXPECT_THROW(ParseEndpoint(bad, 8211, AnyPort::Allow), Error) << bad;
}

}  // namespace
}  // namespace trd::server::testing
