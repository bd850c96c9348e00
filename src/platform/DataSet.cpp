#include "DataSet.h"

#include <charconv>
#include <iterator>
#include <list>
#include <unordered_set>

#include "Errors.h"
#include "Text.h"

namespace trd {

// Rows live in a linked list so that inserting at the cursor, deleting and
// moving on are O(1) whatever the table's size. A deleted row is spliced out
// into `removed`, where it stays until the log is merged or cancelled: Delta()
// still needs its values and CancelUpdates() puts it back where it was.
struct DataSet::Impl {
  struct Slot {
    Row values;             // latest values
    Row settled;            // values as of the last merge; kept once a settled row is modified
    bool inserted = false;  // posted as a new row since the last merge
    bool modified = false;  // a settled row changed since the last merge
    bool deleted = false;   // sits in `removed`
  };
  using SlotIt = std::list<Slot>::iterator;

  // One post or delete. For a delete, `next` is the row that followed the
  // deleted one (or rows.end()). Undoing the log newest first brings the
  // list back through exactly the states it went through, so that row is in
  // place again when the delete is undone.
  struct Entry {
    ChangeKind kind;
    SlotIt slot;
    SlotIt next;
  };

  std::list<Slot> rows;     // the visible rows, in order
  std::list<Slot> removed;  // deleted rows awaiting merge or cancel
  SlotIt current = rows.end();
  bool eof = true;          // Next() ran past the last row (or there is none)
  Row pending;              // the row being inserted or edited
  SlotIt insert_before = rows.end();
  std::vector<Entry> log;

  void Reset() {
    rows.clear();
    removed.clear();
    log.clear();
    pending.clear();
    current = rows.end();
    insert_before = rows.end();
    eof = true;
  }
};

namespace {

const FieldValue kNull{};

const char* ValueKind(const FieldValue& v) {
  switch (v.index()) {
    case 0: return "null";
    case 1: return "text";
    case 2: return "a number";
    default: return "a date-time";
  }
}

// Checks field definitions for a table: named, unique (ASCII case ignored),
// no negative widths.
void CheckFields(const std::vector<FieldDef>& fields, const std::string& table) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name.empty())
      throw DataSetError("table " + table + ": field " + std::to_string(i + 1) + " has no name");
    if (fields[i].size < 0)
      throw DataSetError("table " + table + ": field " + fields[i].name + " has a negative width");
    for (std::size_t k = 0; k < i; ++k)
      if (text::EqualsIgnoreCase(fields[k].name, fields[i].name))
        throw DataSetError("table " + table + ": field " + fields[i].name + " is declared twice");
  }
}

// The kind of a value must match the field's type (null fits every field).
// With `check_width`, a text must also fit the field's width in code points;
// a String field of width 0 takes text of any length.
void CheckValue(const FieldDef& f, const FieldValue& v, const std::string& table,
                bool check_width) {
  if (std::holds_alternative<std::monostate>(v)) return;
  bool fits = false;
  switch (f.type) {
    case FieldType::String: fits = std::holds_alternative<std::string>(v); break;
    case FieldType::Float: fits = std::holds_alternative<double>(v); break;
    case FieldType::DateTime: fits = std::holds_alternative<DateTime>(v); break;
  }
  if (!fits) {
    throw FieldError("field " + f.name + " of table " + table + " is " + TypeName(f.type) +
                     " and cannot take " + ValueKind(v));
  }
  if (check_width && f.type == FieldType::String && f.size > 0) {
    std::size_t n = text::Length(std::get<std::string>(v));
    if (n > std::size_t(f.size)) {
      throw WidthError("field " + f.name + " of table " + table + ": a text of " +
                       std::to_string(n) + " characters exceeds the field's width of " +
                       std::to_string(f.size));
    }
  }
}

bool Matches(const FieldValue& have, const FieldValue& want, LocateCase mode) {
  if (have.index() != want.index()) return false;
  if (mode == LocateCase::Insensitive) {
    if (const auto* s = std::get_if<std::string>(&have))
      return text::EqualsIgnoreCase(*s, std::get<std::string>(want));
  }
  return have == want;
}

std::string FormatNumber(double d) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, res.ptr);
}

}  // namespace

DataSet::DataSet(std::string name, std::vector<FieldDef> fields)
    : name_(std::move(name)), fields_(std::move(fields)), impl_(std::make_unique<Impl>()) {
  CheckFields(fields_, name_);
}

DataSet::~DataSet() = default;

// ---- state checks -------------------------------------------------------

namespace {
[[noreturn]] void Fail(const std::string& table, const std::string& what) {
  throw DataSetError("table " + table + ": " + what);
}

void RequireOpen(DataSetState state, const std::string& table, const char* op) {
  if (state == DataSetState::Inactive) Fail(table, std::string("cannot ") + op + ": the table is not open");
}

void RequireBrowse(DataSetState state, const std::string& table, const char* op) {
  RequireOpen(state, table, op);
  if (state != DataSetState::Browse) {
    Fail(table, std::string("cannot ") + op + " while a row is being " +
                    (state == DataSetState::Insert ? "inserted" : "edited") +
                    "; post or cancel it first");
  }
}
}  // namespace

// ---- structure ----------------------------------------------------------

void DataSet::SetFields(std::vector<FieldDef> fields) {
  if (state_ != DataSetState::Inactive) Fail(name_, "cannot change the fields while the table is open");
  CheckFields(fields, name_);
  fields_ = std::move(fields);
}

void DataSet::CreateDataSet() {
  if (fields_.empty()) Fail(name_, "cannot create a table without fields");
  impl_->Reset();
  state_ = DataSetState::Browse;
}

void DataSet::Close() {
  impl_->Reset();
  state_ = DataSetState::Inactive;
}

void DataSet::SetData(const Packet& packet) {
  CheckFields(packet.fields, name_);
  // Build the new rows apart so that a bad packet leaves the table as it was.
  std::list<Impl::Slot> rows;
  for (std::size_t r = 0; r < packet.rows.size(); ++r) {
    const Row& row = packet.rows[r];
    if (row.size() != packet.fields.size()) {
      Fail(name_, "row " + std::to_string(r + 1) + " of the data packet has " +
                      std::to_string(row.size()) + " values for " +
                      std::to_string(packet.fields.size()) + " fields");
    }
    for (std::size_t i = 0; i < row.size(); ++i) CheckValue(packet.fields[i], row[i], name_, true);
    rows.push_back(Impl::Slot{row, {}, false, false, false});
  }
  fields_ = packet.fields;
  impl_->Reset();
  impl_->rows.swap(rows);
  impl_->current = impl_->rows.begin();
  impl_->eof = impl_->rows.empty();
  state_ = DataSetState::Browse;
}

Packet DataSet::Data() const {
  Packet p{fields_, {}};
  p.rows.reserve(impl_->rows.size());
  for (const auto& s : impl_->rows) p.rows.push_back(s.values);
  return p;
}

// ---- navigation ---------------------------------------------------------

void DataSet::First() {
  RequireBrowse(state_, name_, "move to the first row");
  impl_->current = impl_->rows.begin();
  impl_->eof = impl_->rows.empty();
}

void DataSet::Next() {
  RequireBrowse(state_, name_, "move to the next row");
  Impl& d = *impl_;
  if (d.current == d.rows.end() || std::next(d.current) == d.rows.end()) {
    d.eof = true;  // the cursor stays on the last row
  } else {
    ++d.current;
    d.eof = false;
  }
}

bool DataSet::Eof() const { return state_ == DataSetState::Inactive || impl_->rows.empty() || impl_->eof; }

int DataSet::RecordCount() const {
  return state_ == DataSetState::Inactive ? 0 : int(impl_->rows.size());
}

// ---- editing ------------------------------------------------------------

void DataSet::Insert() {
  RequireBrowse(state_, name_, "insert a row");
  impl_->pending.assign(fields_.size(), FieldValue{});
  impl_->insert_before = impl_->current;  // rows.end() when the table is empty
  state_ = DataSetState::Insert;
}

void DataSet::Append() {
  RequireBrowse(state_, name_, "append a row");
  impl_->pending.assign(fields_.size(), FieldValue{});
  impl_->insert_before = impl_->rows.end();
  state_ = DataSetState::Insert;
}

void DataSet::Edit() {
  RequireOpen(state_, name_, "edit");
  if (state_ != DataSetState::Browse) return;  // already editing or inserting
  if (impl_->rows.empty()) Fail(name_, "cannot edit: the table is empty");
  impl_->pending = impl_->current->values;
  state_ = DataSetState::Edit;
}

void DataSet::Post() {
  RequireOpen(state_, name_, "post");
  Impl& d = *impl_;
  if (state_ == DataSetState::Insert) {
    auto it = d.rows.insert(d.insert_before, Impl::Slot{std::move(d.pending), {}, true, false, false});
    d.log.push_back({ChangeKind::Insert, it, d.rows.end()});
    d.current = it;
    d.eof = false;
  } else if (state_ == DataSetState::Edit) {
    Impl::Slot& s = *d.current;
    if (!s.inserted && !s.modified) {
      s.settled = std::move(s.values);
      s.modified = true;
    }
    s.values = std::move(d.pending);
    d.log.push_back({ChangeKind::Modify, d.current, d.rows.end()});
  } else {
    Fail(name_, "cannot post: no row is being inserted or edited");
  }
  d.pending.clear();
  state_ = DataSetState::Browse;
  if (AfterPost) {
    Event handler = AfterPost;  // the handler may replace the event
    handler(*this);
  }
}

void DataSet::Cancel() {
  if (state_ != DataSetState::Insert && state_ != DataSetState::Edit) return;
  impl_->pending.clear();
  state_ = DataSetState::Browse;
  if (AfterCancel) {
    Event handler = AfterCancel;
    handler(*this);
  }
}

void DataSet::Delete() {
  RequireBrowse(state_, name_, "delete");
  Impl& d = *impl_;
  if (d.rows.empty()) Fail(name_, "cannot delete: the table is empty");
  auto it = d.current;
  auto next = std::next(it);
  auto now = next != d.rows.end() ? next : (it != d.rows.begin() ? std::prev(it) : d.rows.end());
  d.removed.splice(d.removed.end(), d.rows, it);
  it->deleted = true;
  d.log.push_back({ChangeKind::Delete, it, next});
  d.current = now;
  d.eof = d.rows.empty();
  if (AfterDelete) {
    Event handler = AfterDelete;
    handler(*this);
  }
}

// ---- field access -------------------------------------------------------

namespace {
int IndexOf(const std::vector<FieldDef>& fields, std::string_view name, const std::string& table) {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (text::EqualsIgnoreCase(fields[i].name, name)) return int(i);
  throw FieldError("table " + table + " has no field " + std::string(name));
}
}  // namespace

const FieldValue& DataSet::Field(std::string_view name) const {
  RequireOpen(state_, name_, "read a field");
  int i = IndexOf(fields_, name, name_);
  if (state_ == DataSetState::Insert || state_ == DataSetState::Edit) return impl_->pending[i];
  if (impl_->rows.empty()) return kNull;
  return impl_->current->values[i];
}

std::string DataSet::AsString(std::string_view name) const {
  const FieldValue& v = Field(name);
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* d = std::get_if<double>(&v)) return FormatNumber(*d);
  if (const auto* t = std::get_if<DateTime>(&v)) return t->ToIso();
  return {};
}

double DataSet::AsFloat(std::string_view name) const {
  const FieldValue& v = Field(name);
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* s = std::get_if<std::string>(&v)) {
    std::string_view t = text::Trim(*s);
    double out = 0;
    auto res = std::from_chars(t.data(), t.data() + t.size(), out);
    if (t.empty() || res.ec != std::errc() || res.ptr != t.data() + t.size())
      throw FieldError("field " + std::string(name) + " of table " + name_ + ": \"" + *s +
                       "\" is not a number");
    return out;
  }
  if (std::holds_alternative<DateTime>(v))
    throw FieldError("field " + std::string(name) + " of table " + name_ +
                     " holds a date-time, not a number");
  return 0;
}

DateTime DataSet::AsDateTime(std::string_view name) const {
  const FieldValue& v = Field(name);
  if (const auto* t = std::get_if<DateTime>(&v)) return *t;
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (auto dt = DateTime::FromIso(text::Trim(*s))) return *dt;
    throw FieldError("field " + std::string(name) + " of table " + name_ + ": \"" + *s +
                     "\" is not a date-time");
  }
  if (std::holds_alternative<double>(v))
    throw FieldError("field " + std::string(name) + " of table " + name_ +
                     " holds a number, not a date-time");
  return DateTime{};
}

void DataSet::SetField(std::string_view name, FieldValue value) {
  RequireOpen(state_, name_, "set a field");
  int i = IndexOf(fields_, name, name_);
  if (state_ != DataSetState::Insert && state_ != DataSetState::Edit)
    Fail(name_, "cannot set field " + fields_[i].name +
                    " while browsing; call Edit, Insert or Append first");
  CheckValue(fields_[i], value, name_, true);
  impl_->pending[i] = std::move(value);
}

// ---- change log ---------------------------------------------------------

int DataSet::ChangeCount() const { return int(impl_->log.size()); }

ChangeSet DataSet::Delta() const {
  ChangeSet cs{fields_, {}};
  std::unordered_set<const Impl::Slot*> seen;
  for (const auto& e : impl_->log) {
    const Impl::Slot& s = *e.slot;
    if (!seen.insert(&s).second) continue;  // one change per row, from its final state
    if (s.inserted) {
      if (!s.deleted) cs.changes.push_back(Change{ChangeKind::Insert, {}, s.values});
    } else if (s.deleted) {
      cs.changes.push_back(Change{ChangeKind::Delete, s.modified ? s.settled : s.values, {}});
    } else if (s.modified) {
      cs.changes.push_back(Change{ChangeKind::Modify, s.settled, s.values});
    }
  }
  return cs;
}

void DataSet::MergeChangeLog() {
  Impl& d = *impl_;
  for (const auto& e : d.log) {
    Impl::Slot& s = *e.slot;
    if (s.deleted) continue;  // freed with `removed` below
    s.inserted = s.modified = false;
    Row().swap(s.settled);
  }
  d.removed.clear();
  d.log.clear();
}

void DataSet::CancelUpdates() {
  Impl& d = *impl_;
  if (state_ == DataSetState::Insert || state_ == DataSetState::Edit) {
    d.pending.clear();  // an unposted row is abandoned too, without AfterCancel
    state_ = DataSetState::Browse;
  }
  for (auto e = d.log.rbegin(); e != d.log.rend(); ++e) {
    Impl::Slot& s = *e->slot;
    switch (e->kind) {
      case ChangeKind::Insert:
        if (e->slot == d.current) d.current = d.rows.end();
        d.rows.erase(e->slot);
        break;
      case ChangeKind::Delete:
        d.rows.splice(e->next, d.removed, e->slot);
        s.deleted = false;
        break;
      case ChangeKind::Modify:
        if (s.modified) {
          s.values = std::move(s.settled);
          Row().swap(s.settled);
          s.modified = false;
        }
        break;
    }
  }
  d.log.clear();
  if (d.current == d.rows.end()) {  // the current row was undone, or there was none
    d.current = d.rows.begin();
    d.eof = d.rows.empty();
  }
}

// ---- search -------------------------------------------------------------

bool DataSet::Locate(const std::vector<std::string>& fields, const std::vector<FieldValue>& values,
                     LocateCase mode) {
  RequireBrowse(state_, name_, "locate");
  if (fields.empty() || fields.size() != values.size()) {
    Fail(name_, "cannot locate: " + std::to_string(fields.size()) + " fields given with " +
                    std::to_string(values.size()) + " values");
  }
  std::vector<int> idx;
  idx.reserve(fields.size());
  for (std::size_t k = 0; k < fields.size(); ++k) {
    idx.push_back(IndexOf(fields_, fields[k], name_));
    CheckValue(fields_[idx.back()], values[k], name_, false);
  }
  Impl& d = *impl_;
  for (auto it = d.rows.begin(); it != d.rows.end(); ++it) {
    bool all = true;
    for (std::size_t k = 0; all && k < idx.size(); ++k)
      all = Matches(it->values[idx[k]], values[k], mode);
    if (all) {
      d.current = it;
      d.eof = false;
      return true;
    }
  }
  return false;
}

}  // namespace trd
