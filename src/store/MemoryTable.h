// The translation table in memory, filled by the record rule: `trd extract`
// hands its scanners this sink and prints what it then holds, with no
// server, connection or database at all.
//
// It starts empty and stores no translation, so none is ever reused; it
// keeps its records in creation order (a replaced record is a new row at
// the end, as the server's table orders its rows). A key field longer than
// its column is refused as the server refuses it (WidthError), before
// anything of the text is stored.
#pragma once

#include <list>
#include <iterator>
#include <map>
#include <string>

#include "platform/Value.h"
#include "protocol/FoundText.h"

namespace trd::store {

class MemoryTable final : public protocol::TextSink {
 public:
  void Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) override;

  // The records, each a row of the ten record fields (protocol/Record.h),
  // in creation order.
  const std::list<Row>& Records() const { return rows_; }

 private:
  friend class MemoryChannel;
  std::list<Row> rows_;
  std::map<protocol::RecordKey, std::list<Row>::iterator> by_key_;
};

}  // namespace trd::store
