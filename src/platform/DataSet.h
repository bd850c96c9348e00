// In-memory table with a change log, as the client's datasets (the staging
// tables) keep them.
//
// A DataSet has declared fields, rows, a current row and a state (inactive,
// browsing, inserting, editing). Posts and deletes are recorded in a change
// log until MergeChangeLog() makes them part of the settled contents or
// CancelUpdates() undoes them. Delta() is the change log as one ChangeSet,
// one change per affected row (an insert later modified stays one insert; an
// insert later deleted vanishes; a row modified twice is one modify from its
// settled values to its latest ones).
//
// Events: AfterPost, AfterDelete and AfterCancel run right after the
// operation completed; an exception thrown by a handler comes out of the
// operation that raised it (the operation itself stays done, so the handler
// is the one to undo it, e.g. with CancelUpdates()).
//
// Text values are measured in code points against the field's width (a width
// of 0 takes any length); a longer text raises FieldError naming the field, as
// does a value of the wrong kind. An operation that the table's state does not
// allow raises DataSetError. Not thread-safe.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Value.h"

namespace trd {

enum class DataSetState { Inactive, Browse, Insert, Edit };
enum class LocateCase { Sensitive, Insensitive };

class DataSet {
 public:
  using Event = std::function<void(DataSet&)>;

  explicit DataSet(std::string name, std::vector<FieldDef> fields = {});
  ~DataSet();
  DataSet(const DataSet&) = delete;
  DataSet& operator=(const DataSet&) = delete;

  const std::string& Name() const { return name_; }
  const std::vector<FieldDef>& Fields() const { return fields_; }
  // Replaces the field definitions; only while inactive.
  void SetFields(std::vector<FieldDef> fields);

  // Opens the table empty with the declared fields and an empty change log.
  void CreateDataSet();
  // Drops rows and change log; the table becomes inactive.
  void Close();
  bool Active() const { return state_ != DataSetState::Inactive; }
  DataSetState State() const { return state_; }

  // Replaces fields and rows with the packet's, empties the change log, opens
  // the table and moves to the first row.
  void SetData(const Packet& packet);
  // The current contents (settled and pending changes) as a packet.
  Packet Data() const;

  // Navigation over the visible rows (deleted rows are not visible). Next()
  // on the last row sets Eof and stays there. Navigating, inserting, deleting
  // and locating need the browse state (post or cancel first).
  void First();
  void Next();
  bool Eof() const;
  bool IsEmpty() const { return RecordCount() == 0; }
  int RecordCount() const;

  // Editing. Insert/Append start a new row (blank values) as the current one;
  // Edit starts changing the current row; Post completes either and logs it;
  // Cancel abandons it. Delete removes the current row and logs it; the next
  // row (or, after the last, the previous one) becomes current. After Post the
  // posted row is current; Insert places it before the current row, Append at
  // the end.
  void Insert();
  void Append();
  void Edit();
  void Post();
  void Cancel();
  void Delete();

  // Field access on the current row (or the row being inserted/edited).
  // Unknown names raise FieldError; setting requires Insert or Edit state.
  const FieldValue& Field(std::string_view name) const;
  std::string AsString(std::string_view name) const;  // null gives ""
  double AsFloat(std::string_view name) const;          // null gives 0
  DateTime AsDateTime(std::string_view name) const;     // null gives the epoch
  void SetField(std::string_view name, FieldValue value);

  // Change log. ChangeCount is the number of posts and deletes logged.
  // CancelUpdates also abandons an unposted row (without AfterCancel) and
  // restores the original order of the rows.
  int ChangeCount() const;
  ChangeSet Delta() const;
  void MergeChangeLog();
  void CancelUpdates();

  // Moves to the first visible row whose fields equal the values (whole
  // values; Insensitive folds ASCII a-z only). Returns false and stays put
  // when there is none.
  bool Locate(const std::vector<std::string>& fields, const std::vector<FieldValue>& values,
              LocateCase mode = LocateCase::Sensitive);

  Event AfterPost;
  Event AfterDelete;
  Event AfterCancel;

 private:
  struct Impl;  // rows, cursor, pending row and change log; see DataSet.cpp
  std::string name_;
  std::vector<FieldDef> fields_;
  DataSetState state_ = DataSetState::Inactive;
  std::unique_ptr<Impl> impl_;
};

}  // namespace trd
