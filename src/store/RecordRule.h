// The record rule: what becomes of one text read from a form or report file,
// under its record key K, in the translation table. V is the text cut to its
// first 4000 characters, the value a record holds.
//
//   0. V holds U+0000: skipped at once (counted as not translatable, told
//      as step 2); nothing is looked up, sent or changed. PostgreSQL's text
//      refuses the character and SQLite would keep it: a record must mean
//      the same on both backends, and a control character is no text to
//      translate. The batch channel leaves such a text out of its request
//      by the same test (StorableText).
//   1. K holds a record whose source text is V (trailing blanks ignored):
//      stored already; nothing changes.
//   2. The channel may decline the text (not worth translating, an empty list
//      entry): skipped; nothing changes.
//   3. K holds a record whose source text is V after all: another client
//      stored it since step 1; nothing changes.
//   4. K holds a record of another text: it is deleted (replaced).
//   5. A new record of K is inserted: state "N", both texts V.
//   6. When a translation of the same source text into K's language exists,
//      it is stored into the new record (state "T").
//
// Several runs at once race on one key: between steps 3 and 5 another run may
// store a record of K. The channel's insert then raises KeyTakenError and the
// rule goes back to step 3 with what K holds now: its own text (stored
// meanwhile, counted stored), nothing (insert again), or another text, which
// it replaces as step 4 says (counted replaced, so the run says so). After
// kRuleTries inserts that all found K taken the KeyTakenError passes on.
//
// The rule runs over a channel: the client's staging tables and server calls
// (store/StagingChannel.h), or whatever gives the same six operations, such
// as a storage session. It depends on nothing else; the channel's failures
// pass through it unchanged and end the rule where they happen.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "protocol/Failures.h"
#include "protocol/FoundText.h"
#include "protocol/Record.h"

namespace trd::store {

using protocol::RecordKey;

// The channel's insert (step 5) found a record of the key stored by somebody
// else since step 3. Nothing was written. The failure of code key_taken, on
// either side of the wire.
using protocol::KeyTakenError;

// How many times the rule tries steps 3 to 5 for one text before a key that
// keeps being taken ends it. Every lost try needs another run's insert of the
// key in between, and a run inserts a key once per text it reads there.
inline constexpr int kRuleTries = 64;

// A text as read, and the value a record of it holds.
struct RecordText {
  explicit RecordText(std::string_view read);
  std::string_view read;  // as read from the file
  std::string value;      // its first kMaxValueLength characters
};

// Where the rule has got to with a text, for the channel to show: step 1
// found it (StoredAlready), step 2 declined it (Skipped), step 3 found it
// (StoredMeanwhile), about to insert after the delete of step 4, if any
// (Creating). The scanners are told the same steps (protocol/FoundText.h).
using RuleStep = protocol::TextStep;

class RecordChannel {
 public:
  virtual ~RecordChannel() = default;
  // Step 1: whether K holds a record whose source text is text.value,
  // trailing blanks ignored on both sides.
  virtual bool HoldsValue(const RecordKey& key, const RecordText& text) = 0;
  // Step 2: whether the text is to become a record.
  virtual bool Accepts(const RecordKey& key, const RecordText& text) { return true; }
  // Step 3: the source text of K's record; nullopt when K holds none.
  virtual std::optional<std::string> SourceOfKey(const RecordKey& key) = 0;
  // Step 4: deletes K's record.
  virtual void DeleteRecord(const RecordKey& key) = 0;
  // Step 5: inserts the record of K: state "N", both texts text.value, now.
  // Raises KeyTakenError, having written nothing, when K holds a record.
  virtual void InsertRecord(const RecordKey& key, const RecordText& text) = 0;
  // Step 6: a translation into K's language of the source text; nullopt
  // when there is none.
  virtual std::optional<std::string> FindTranslation(const RecordKey& key, const RecordText& text) = 0;
  // Step 6: stores `translation` into K's record: state "T", now.
  virtual void StoreTranslation(const RecordKey& key, const std::string& translation) = 0;
  // Told at steps 1, 2 and 3 when they end the rule, and before step 5:
  // once per text, before any change is sent.
  virtual void Reached(RuleStep step, const RecordText& text) {}
};

// Step 0: whether a record can hold the value at all.
enum class Storable { Yes, No };
Storable StorableText(std::string_view value);

enum class RecordOutcome { StoredAlready, StoredMeanwhile, Skipped, Created, Replaced };
enum class TranslationReuse { None, Reused };

// "stored_already", "stored_meanwhile", "skipped", "created", "replaced": the
// outcome's name on the wire (the batch method) and in `trd harvest` output.
std::string_view OutcomeName(RecordOutcome outcome);
// The outcome of a name; nullopt for any other text.
std::optional<RecordOutcome> OutcomeNamed(std::string_view name);

struct RecordResult {
  RecordOutcome outcome = RecordOutcome::Skipped;
  TranslationReuse translation = TranslationReuse::None;
  bool operator==(const RecordResult&) const = default;
};

// Runs the rule for `text` under `key`.
RecordResult ApplyRecordRule(RecordChannel& channel, const RecordKey& key, std::string_view text);

}  // namespace trd::store
