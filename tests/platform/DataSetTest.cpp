#include "platform/DataSet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <stdexcept>

#include "platform/Errors.h"

namespace trd {
namespace {

std::vector<FieldDef> Fields() {
  return {{"ID", FieldType::Float, 0},
          {"NAME", FieldType::String, 5},
          {"WHEN", FieldType::DateTime, 0}};
}

Row R(double id, std::string name, FieldValue when = {}) { return {id, std::move(name), when}; }

// A table opened on the given rows, change log empty.
void Load(DataSet& ds, std::vector<Row> rows) { ds.SetData(Packet{Fields(), std::move(rows)}); }

void Add(DataSet& ds, double id, std::string name, bool append = true) {
  append ? ds.Append() : ds.Insert();
  ds.SetField("ID", id);
  ds.SetField("NAME", std::move(name));
  ds.Post();
}

void EditName(DataSet& ds, std::string name) {
  ds.Edit();
  ds.SetField("NAME", std::move(name));
  ds.Post();
}

std::vector<double> Ids(const DataSet& ds) {
  std::vector<double> out;
  for (const Row& r : ds.Data().rows) out.push_back(std::get<double>(r[0]));
  return out;
}

// ---- states and field rules ---------------------------------------------

TEST(DataSetState, OperationsTheStateDoesNotAllowRaise) {
  DataSet ds("T", Fields());
  EXPECT_FALSE(ds.Active());
  EXPECT_THROW(ds.Insert(), DataSetError);
  EXPECT_THROW(ds.First(), DataSetError);
  EXPECT_THROW(ds.Field("ID"), DataSetError);
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_TRUE(ds.Eof());

  ds.CreateDataSet();
  EXPECT_EQ(ds.State(), DataSetState::Browse);
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_THROW(ds.Edit(), DataSetError);
  EXPECT_THROW(ds.Delete(), DataSetError);
  EXPECT_THROW(ds.Post(), DataSetError);
  EXPECT_THROW(ds.SetField("ID", 1.0), DataSetError);
  EXPECT_THROW(ds.SetFields(Fields()), DataSetError);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(ds.Field("NAME")));  // empty table reads null

  ds.Insert();
  EXPECT_THROW(ds.Insert(), DataSetError);
  EXPECT_THROW(ds.Append(), DataSetError);
  EXPECT_THROW(ds.Next(), DataSetError);
  EXPECT_THROW(ds.Delete(), DataSetError);
  EXPECT_THROW(ds.Locate({"ID"}, {1.0}), DataSetError);
  ds.Cancel();
  EXPECT_EQ(ds.State(), DataSetState::Browse);
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_TRUE(ds.IsEmpty());

  ds.Close();
  EXPECT_FALSE(ds.Active());
  EXPECT_THROW(ds.Next(), DataSetError);

  DataSet bare("B");
  EXPECT_THROW(bare.CreateDataSet(), DataSetError);
  EXPECT_THROW(DataSet("D", {{"A", FieldType::Float, 0}, {"a", FieldType::Float, 0}}),
               DataSetError);
}

TEST(DataSetFields, WidthIsCountedInCodePointsAndNeverCut) {
  DataSet ds("T", Fields());
  ds.CreateDataSet();
  ds.Append();
  ds.SetField("NAME", std::string("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"));  // 5 x é, 10 bytes
  EXPECT_EQ(ds.AsString("name"), "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
  try {
    ds.SetField("NAME", std::string("abcdef"));
    FAIL() << "a text wider than its field was accepted";
  } catch (const FieldError& e) {
    std::string m = e.what();
    EXPECT_NE(m.find("NAME"), std::string::npos) << m;
    EXPECT_NE(m.find('6'), std::string::npos) << m;
    EXPECT_NE(m.find('5'), std::string::npos) << m;
  }
  // The rejected value left the earlier one in place.
  EXPECT_EQ(ds.AsString("NAME"), "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
}

TEST(DataSetFields, WrongKindsAndUnknownNamesAreFieldErrors) {
  DataSet ds("T", Fields());
  ds.CreateDataSet();
  ds.Append();
  EXPECT_THROW(ds.SetField("ID", std::string("1")), FieldError);
  EXPECT_THROW(ds.SetField("NAME", 1.0), FieldError);
  EXPECT_THROW(ds.SetField("WHEN", std::string("2024-01-01")), FieldError);
  EXPECT_THROW(ds.SetField("NOPE", 1.0), FieldError);
  EXPECT_THROW(ds.Field("NOPE"), FieldError);
  EXPECT_NO_THROW(ds.SetField("ID", FieldValue{}));

  // Null reads as the kind's zero; stored values convert for reading.
  EXPECT_EQ(ds.AsString("ID"), "");
  EXPECT_EQ(ds.AsFloat("ID"), 0.0);
  EXPECT_EQ(ds.AsDateTime("WHEN"), DateTime{});
  ds.SetField("ID", 42.0);
  ds.SetField("WHEN", DateTime::FromParts(2024, 3, 5, 10, 20, 30, 400));
  ds.SetField("NAME", std::string(" 2.5 "));
  EXPECT_EQ(ds.AsString("ID"), "42");
  EXPECT_EQ(ds.AsString("WHEN"), "2024-03-05T10:20:30.400");
  EXPECT_EQ(ds.AsFloat("NAME"), 2.5);
  EXPECT_THROW(ds.AsDateTime("NAME"), FieldError);
  ds.SetField("NAME", std::string("x"));
  EXPECT_THROW(ds.AsFloat("NAME"), FieldError);
}

// ---- cursor ---------------------------------------------------------------

TEST(DataSetCursor, InsertGoesBeforeCurrentAppendAtEndPostedRowIsCurrent) {
  DataSet ds("T", Fields());
  ds.CreateDataSet();
  Add(ds, 1, "a", /*append=*/false);  // into an empty table
  Add(ds, 2, "b");
  EXPECT_EQ(ds.AsFloat("ID"), 2);
  ds.First();
  ds.Next();  // on 2
  Add(ds, 3, "c", /*append=*/false);
  EXPECT_EQ(ds.AsFloat("ID"), 3);
  Add(ds, 4, "d", /*append=*/false);  // before 3, the current row
  EXPECT_EQ(Ids(ds), (std::vector<double>{1, 4, 3, 2}));

  // Next on the last row sets Eof and stays on that row.
  ds.First();
  int seen = 0;
  for (; !ds.Eof(); ds.Next()) ++seen;
  EXPECT_EQ(seen, 4);
  EXPECT_EQ(ds.AsFloat("ID"), 2);
}

TEST(DataSetCursor, DeleteMovesToNextOrToPreviousAfterTheLast) {
  DataSet ds("T", Fields());
  Load(ds, {R(1, "a"), R(2, "b"), R(3, "c")});
  ds.Next();
  ds.Delete();
  EXPECT_EQ(ds.AsFloat("ID"), 3);
  ds.Delete();
  EXPECT_EQ(ds.AsFloat("ID"), 1);
  EXPECT_FALSE(ds.Eof());
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.ChangeCount(), 3);
  EXPECT_THROW(ds.Delete(), DataSetError);
}

// ---- change log -----------------------------------------------------------

TEST(DataSetLog, MergeSettlesChangesAndCancelUndoesThem) {
  DataSet ds("T", Fields());
  Load(ds, {R(1, "a"), R(2, "b"), R(3, "c")});
  EXPECT_EQ(ds.ChangeCount(), 0);

  Add(ds, 4, "d");
  ds.First();
  EditName(ds, "A");
  ds.Next();
  ds.Delete();  // 2
  EXPECT_EQ(ds.ChangeCount(), 3);
  ds.MergeChangeLog();
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_TRUE(ds.Delta().changes.empty());
  EXPECT_EQ(ds.Data().rows, (std::vector<Row>{R(1, "A"), R(3, "c"), R(4, "d")}));

  // Changes after the merge are undone back to the merged contents, in order.
  ds.First();
  ds.Delete();  // 1
  EditName(ds, "C");  // 3, now current
  ds.Next();
  Add(ds, 5, "e", /*append=*/false);  // before 4
  ds.Locate({"ID"}, {4.0});
  ds.Delete();
  EXPECT_EQ(Ids(ds), (std::vector<double>{3, 5}));
  ds.CancelUpdates();
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(ds.Data().rows, (std::vector<Row>{R(1, "A"), R(3, "c"), R(4, "d")}));
  EXPECT_FALSE(ds.Eof());
  EXPECT_NO_THROW(ds.AsString("NAME"));
}

TEST(DataSetLog, CancelUpdatesAbandonsAnUnpostedRowWithoutAfterCancel) {
  DataSet ds("T", Fields());
  Load(ds, {R(1, "a")});
  int cancels = 0;
  ds.AfterCancel = [&](DataSet&) { ++cancels; };
  EditName(ds, "b");
  ds.Edit();
  ds.SetField("NAME", std::string("c"));
  ds.CancelUpdates();
  EXPECT_EQ(ds.State(), DataSetState::Browse);
  EXPECT_EQ(ds.AsString("NAME"), "a");
  EXPECT_EQ(cancels, 0);
}

TEST(DataSetDelta, OneChangePerRowFromItsSettledToItsLatestValues) {
  DataSet ds("T", Fields());
  Load(ds, {R(1, "a"), R(2, "b"), R(3, "c")});

  Add(ds, 10, "new");  // insert + modify: one insert with the latest values
  EditName(ds, "newer");
  Add(ds, 11, "gone");  // insert + delete: nothing
  ds.Delete();
  ds.Locate({"ID"}, {2.0});  // modify twice: one modify from settled to latest
  EditName(ds, "b1");
  EditName(ds, "b2");
  ds.Locate({"ID"}, {3.0});  // modify + delete: one delete of the settled values
  EditName(ds, "c1");
  ds.Delete();

  EXPECT_EQ(ds.ChangeCount(), 8);
  ChangeSet cs = ds.Delta();
  EXPECT_EQ(cs.fields, Fields());
  ASSERT_EQ(cs.changes.size(), 3u);
  EXPECT_EQ(cs.changes[0], (Change{ChangeKind::Insert, {}, R(10, "newer")}));
  EXPECT_EQ(cs.changes[1], (Change{ChangeKind::Modify, R(2, "b"), R(2, "b2")}));
  EXPECT_EQ(cs.changes[2], (Change{ChangeKind::Delete, R(3, "c"), {}}));
}

// Random edits checked against a plain vector: after each step the table
// holds the model's rows; at the end the delta turns the settled rows into
// the current ones, and CancelUpdates gives the settled rows back in order.
TEST(DataSetLog, RandomEditsAgreeWithAModel) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    DataSet ds("T", Fields());
    std::vector<Row> model;
    for (int i = 0; i < 6; ++i) model.push_back(R(i, "r" + std::to_string(i)));
    Load(ds, model);
    std::vector<Row> settled = model;
    std::size_t cur = 0;
    double next_id = 100;

    for (int step = 0; step < 60; ++step) {
      int op = int(rng() % 7);
      if (op == 0 || op == 1) {  // insert at cursor / append
        bool append = op == 1 || model.empty();
        Add(ds, next_id, "n", append);
        std::size_t at = append ? model.size() : cur;
        model.insert(model.begin() + long(at), R(next_id, "n"));
        cur = at;
        ++next_id;
      } else if (op == 2 && !model.empty()) {
        std::string name = "e" + std::to_string(step % 10);
        EditName(ds, name);
        std::get<std::string>(model[cur][1]) = name;
      } else if (op == 3 && !model.empty()) {
        ds.Delete();
        model.erase(model.begin() + long(cur));
        if (cur == model.size() && cur > 0) --cur;
      } else if (op == 4 && !model.empty()) {
        ds.Next();
        if (cur + 1 < model.size()) ++cur;
      } else if (op == 5) {
        ds.First();
        cur = 0;
      } else if (op == 6 && rng() % 4 == 0) {
        ds.MergeChangeLog();
        settled = model;
      }
      ASSERT_EQ(ds.Data().rows, model) << "round " << round << " step " << step;
      if (!model.empty()) {
        ASSERT_EQ(ds.AsFloat("ID"), std::get<double>(model[cur][0]));
      }
    }

    std::map<double, Row> applied;
    for (const Row& r : settled) applied[std::get<double>(r[0])] = r;
    for (const Change& c : ds.Delta().changes) {
      if (c.kind == ChangeKind::Insert) {
        ASSERT_TRUE(applied.emplace(std::get<double>(c.after[0]), c.after).second);
      } else {
        auto it = applied.find(std::get<double>(c.before[0]));
        ASSERT_NE(it, applied.end());
        ASSERT_EQ(it->second, c.before);
        if (c.kind == ChangeKind::Delete) applied.erase(it);
        else it->second = c.after;
      }
    }
    std::map<double, Row> current;
    for (const Row& r : model) current[std::get<double>(r[0])] = r;
    EXPECT_EQ(applied, current) << "round " << round;

    ds.CancelUpdates();
    EXPECT_EQ(ds.Data().rows, settled) << "round " << round;
    EXPECT_EQ(ds.ChangeCount(), 0);
  }
}

// ---- locate -------------------------------------------------------------------

TEST(DataSetLocate, MatchesWholeValuesOverSeveralFields) {
  DataSet ds("T", Fields());
  Load(ds, {R(1, "abc"), R(2, "\xC3\xA9t\xC3\xA9"), R(2, "ABC"), R(3, "x", DateTime{5})});
  EXPECT_FALSE(ds.Locate({"ID", "NAME"}, {2.0, std::string("abc")}));
  ds.Next();
  EXPECT_FALSE(ds.Locate({"NAME"}, {std::string("ab")}));
  EXPECT_EQ(ds.AsFloat("ID"), 2) << "a failed locate moved the cursor";

  EXPECT_TRUE(ds.Locate({"id", "name"}, {2.0, std::string("abc")}, LocateCase::Insensitive));
  EXPECT_EQ(ds.AsString("NAME"), "ABC");
  // Only ASCII letters fold: É is not é.
  EXPECT_FALSE(ds.Locate({"NAME"}, {std::string("\xC3\x89T\xC3\x89")}, LocateCase::Insensitive));
  EXPECT_TRUE(ds.Locate({"NAME"}, {std::string("\xC3\xA9T\xC3\xA9")}, LocateCase::Insensitive));
  EXPECT_TRUE(ds.Locate({"WHEN"}, {DateTime{5}}));
  EXPECT_EQ(ds.AsFloat("ID"), 3);
  EXPECT_TRUE(ds.Locate({"WHEN"}, {FieldValue{}}));  // null matches null
  EXPECT_EQ(ds.AsFloat("ID"), 1);

  ds.Delete();  // deleted rows are not found
  EXPECT_FALSE(ds.Locate({"ID"}, {1.0}));

  EXPECT_THROW(ds.Locate({"ID"}, {std::string("1")}), FieldError);
  EXPECT_THROW(ds.Locate({"NOPE"}, {1.0}), FieldError);
  EXPECT_THROW(ds.Locate({"ID", "NAME"}, {1.0}), DataSetError);
}

// ---- events ---------------------------------------------------------------

TEST(DataSetEvents, RunAfterTheOperationCompleted) {
  DataSet ds("T", Fields());
  ds.CreateDataSet();
  std::vector<std::string> seen;
  ds.AfterPost = [&](DataSet& t) {
    EXPECT_EQ(t.State(), DataSetState::Browse);
    seen.push_back("post " + t.AsString("ID") + " " + std::to_string(t.ChangeCount()));
  };
  ds.AfterDelete = [&](DataSet& t) { seen.push_back("delete " + std::to_string(t.RecordCount())); };
  ds.AfterCancel = [&](DataSet& t) { seen.push_back("cancel"); };
  Add(ds, 7, "a");
  ds.Cancel();  // nothing pending: no event
  ds.Edit();
  ds.Cancel();
  ds.Delete();
  EXPECT_EQ(seen, (std::vector<std::string>{"post 7 1", "cancel", "delete 0"}));
}

TEST(DataSetEvents, SendingHandlerMergesOnSuccessAndUndoesOnFailure) {
  DataSet ds("T", Fields());
  Load(ds, {R(1, "a")});
  bool fail = false;
  std::vector<ChangeSet> sent;
  auto send = [&](DataSet& t) {
    if (t.ChangeCount() <= 0) return;
    try {
      sent.push_back(t.Delta());
      if (fail) throw std::runtime_error("server down");
      t.MergeChangeLog();
    } catch (...) {
      t.CancelUpdates();
      throw;
    }
  };
  ds.AfterPost = send;
  ds.AfterDelete = send;

  Add(ds, 2, "b");
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(ds.RecordCount(), 2);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].changes, (std::vector<Change>{{ChangeKind::Insert, {}, R(2, "b")}}));

  fail = true;
  ds.Append();
  ds.SetField("ID", 3.0);
  EXPECT_THROW(ds.Post(), std::runtime_error);
  EXPECT_EQ(ds.State(), DataSetState::Browse);
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(Ids(ds), (std::vector<double>{1, 2}));
  EXPECT_FALSE(ds.Locate({"ID"}, {3.0}));

  ds.First();
  EXPECT_THROW(ds.Delete(), std::runtime_error);
  EXPECT_EQ(Ids(ds), (std::vector<double>{1, 2}));
  EXPECT_EQ(ds.ChangeCount(), 0);

  ds.First();
  EXPECT_THROW(EditName(ds, "z"), std::runtime_error);
  EXPECT_EQ(ds.Data().rows, (std::vector<Row>{R(1, "a"), R(2, "b")}));
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[3].changes, (std::vector<Change>{{ChangeKind::Modify, R(1, "a"), R(1, "z")}}));
}

// ---- loading --------------------------------------------------------------

TEST(DataSetLoad, SetDataReplacesEverythingAndRejectsBadPackets) {
  DataSet ds("T", {{"X", FieldType::String, 3}});
  ds.CreateDataSet();
  ds.Append();
  ds.SetField("X", std::string("q"));
  ds.Post();

  Packet p{Fields(), {R(1, "a"), R(2, "b")}};
  ds.SetData(p);
  EXPECT_EQ(ds.Fields(), Fields());
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(ds.AsFloat("ID"), 1);
  EXPECT_EQ(ds.Data(), p);

  EXPECT_THROW(ds.SetData(Packet{Fields(), {{1.0}}}), DataSetError);
  EXPECT_THROW(ds.SetData(Packet{Fields(), {R(3, "toolong")}}), FieldError);
  EXPECT_THROW(ds.SetData(Packet{Fields(), {{std::string("1"), FieldValue{}, FieldValue{}}}}),
               FieldError);
  EXPECT_EQ(ds.Data(), p) << "a rejected packet changed the table";

  ds.Close();
  EXPECT_EQ(ds.RecordCount(), 0);
  ds.CreateDataSet();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.Fields(), Fields());
}

// Tens of thousands of rows inserted at the cursor and merged one by one, then
// deleted from the front: linear work, so this finishes at once.
TEST(DataSetLoad, ManyRowsAtTheCursorStayCheap) {
  DataSet ds("T", Fields());
  ds.CreateDataSet();
  const int n = 60000;
  for (int i = 0; i < n; ++i) {
    Add(ds, i, "x", /*append=*/false);
    ds.MergeChangeLog();
  }
  EXPECT_EQ(ds.RecordCount(), n);
  ds.First();
  EXPECT_EQ(ds.AsFloat("ID"), n - 1);
  while (!ds.IsEmpty()) {
    ds.First();
    ds.Delete();
  }
  EXPECT_EQ(ds.ChangeCount(), n);
  ds.CancelUpdates();
  EXPECT_EQ(ds.RecordCount(), n);
  ds.First();
  EXPECT_EQ(ds.AsFloat("ID"), n - 1);
}

}  // namespace
}  // namespace trd
