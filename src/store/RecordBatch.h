// The client's side of the batch method SetPropriedArq (docs/server.md,
// protocol/RecordBatch.h): a file's texts are gathered in scan order while it
// is read, then sent in one call, and the server runs the record rule on
// each, in one transaction. One round trip per file instead of one to six
// per text; the table and the run's counters come out as the text-by-text
// path leaves them.
//
// A file's batch whose request would exceed its part size (kPartBytes, and
// for a caller that asks, a number of texts) is sent in parts of at most
// that size as it is gathered (each part one transaction, in order;
// a failure in a later part leaves the earlier parts stored, as the
// text-by-text path leaves the texts before a failure). The server's request
// limit (8 MiB by default) stays well above a part even when every character
// needs escaping.
//
// Counters (Store::stats) are counted from the outcomes, as the text-by-text
// path counts the answers: every text seen; stored already or meanwhile;
// created; replaced (a replace counts created too); translations reused.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "RecordRule.h"
#include "platform/Value.h"
#include "protocol/RecordBatch.h"

namespace trd::store {

class Store;

// The most one part holds: request bytes (estimated from the texts), and
// texts. A part holds one text at least.
struct PartSize {
  std::size_t bytes = std::size_t(1) << 20;
  std::size_t texts = std::numeric_limits<std::size_t>::max();
};

class RecordBatch {
 public:
  static constexpr std::size_t kPartBytes = PartSize{}.bytes;

  // Sends through `store`'s form connection (NetTradRelDfm) for `language`.
  RecordBatch(Store& store, std::string language, PartSize part = {});

  // Adds a text under `key` (its language is the batch's). Sends the
  // gathered part first when the text would take it over the part size. A
  // text no record can hold (StorableText) is not sent: it is counted as
  // skipped with the outcomes of the part it falls in.
  void Add(const RecordKey& key, const RecordText& text, protocol::Declined declined,
           protocol::TranslationLookUp look_up);
  // Sends what is gathered (nothing when empty) and counts the outcomes.
  // Raises ServerError (the result check) or ConnectionError; the part is
  // dropped either way.
  void Send();
  // Drops what is gathered: a file that failed while it was read.
  void Discard();

  std::size_t Pending() const { return records_.rows.size(); }
  // The calls sent so far.
  int Calls() const { return calls_; }

 private:
  Store& store_;
  std::string language_;
  PartSize part_;
  Packet records_;
  std::size_t bytes_ = 0;
  long unsent_skipped_ = 0;  // texts left out of the part gathered
  int calls_ = 0;
};

}  // namespace trd::store
