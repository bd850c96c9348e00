// The server's operations on its tables, on one storage session. Each returns
// a packet shaped as the client expects it (fields and widths of Schema.h) or
// applies a change; every failure is raised, nothing is half-applied.
#pragma once

#include <string>
#include <string_view>

#include "Attribution.h"
#include "Database.h"
#include "Schema.h"
#include "platform/Value.h"

namespace trd::server {

// The key of a translation record. Texts fit their columns (checked by the
// caller; see CheckFits).
using protocol::RecordKey;

// "(CDPROGRAMA 'P', ..., NRVALORPROP 0, IDIDIOMA 'POR')", for messages.
std::string DescribeKey(const RecordKey& key);

// True when a text is no longer than `field` allows (characters, not bytes).
bool Fits(const FieldDef& field, std::string_view text);
// Raises WidthError for a text that does not fit `field`; "what" names the
// value in the message ("argument 1 (program)", "change 2 of 3 (insert)").
[[noreturn]] void RefuseTooLong(const FieldDef& field, std::string_view text, std::string_view what);
inline void CheckFits(const FieldDef& field, std::string_view text, std::string_view what) {
  if (!Fits(field, text)) RefuseTooLong(field, text, what);
}

// The languages: packet IDIDIOMA, DSIDIOMA, IDIPROP ordered by code.
Packet Languages(Session& s);

// The version record: packet DTGERARQTRAD with no row or one.
Packet Version(Session& s);

// The records of the key (zero or one): packet of the ten record fields.
Packet RecordsOfKey(Session& s, const RecordKey& key);

// The records of the key whose source text equals `source`, trailing blanks
// ignored on both sides. A source longer than the column matches nothing.
// HoldsSource is the same test of a record read already (its STAGRVALPROP).
bool HoldsSource(const FieldValue& record_source, std::string_view source);
Packet RecordsOfKeyAndSource(Session& s, const RecordKey& key, std::string_view source);

// The translated record (state "T") of the language whose source text equals
// `source` and whose change is the most recent: packet STAGRVALPROP,
// STVALORPROP of one row, or none. Only the first row of the packet is ever
// read, and returning every matching row would cost each look-up as much as
// the records that share the text. A source longer than the column matches
// nothing.
Packet LatestTranslationOfSource(Session& s, std::string_view language, std::string_view source);

// The translation a new record of `source` takes (the harvest's look-up,
// GetUpdRelDfm): the latest translated record's (LatestTranslationOfSource);
// when no translated record holds the text, the latest entry of the
// translation memory (Memory.h). Same packet, one row or none.
Packet TranslationOfSource(Session& s, std::string_view language, std::string_view source);

// TranslationOfSource of many texts at once (a statement per hundred texts
// and one of the memory's, not two a text): the i-th answer is the
// translation the look-up of sources[i] gives (a null one as ""), nullopt
// when it gives none.
std::vector<std::optional<std::string>> TranslationsOfSources(Session& s, std::string_view language,
                                                              const std::vector<std::string>& sources);

// Stores a translation into the record of the key: STVALORPROP, IDSITTRADUCAO
// and DTULTATUTRAD, with nothing else. Raises protocol::RecordMissingError
// when no record has the key. The caller journals the change (Journal.h).
void StoreTranslation(Session& s, const RecordKey& key, const std::string& translation,
                      const std::string& state, DateTime when);

// UpdateRelDfm: StoreTranslation and its journal in one transaction, by
// `user`. The change counts as the harvest's reuse (Origin::Reuse) when the
// record was untranslated and takes, translated, the translation the
// harvest's look-up gives for its text; as a call (Origin::Call) otherwise.
void SetRecordTranslation(Session& s, const RecordKey& key, const std::string& translation,
                          const std::string& state, DateTime when, const std::string& user);

// Applies a change set to `table` in one transaction, whole or not at all.
// The change set's fields must be columns of the table (any order, ASCII case
// ignored, same type) and include every key column; a column it lacks is null
// in an inserted row and left as it is by a modification. Inserts insert (a
// duplicate key is an error); deletes and modifications act on the row of the
// old key, which must exist. For the keyless version table an insert or a
// modification sets the one row (inserting it when the table has none) and a
// delete empties the table.
// Raises FieldError or ProtocolError for a change set that does not fit the
// table; protocol::KeyTakenError for an insert of a key that holds a record,
// protocol::RecordMissingError for a delete or modification of a key that
// holds none, StorageError for another refusal of the data; the message
// names the change ("change 2 of 3 (insert)").
void ApplyChangeSet(Session& s, const TableDef& table, const ChangeSet& changes);

// ApplyChangeSet on the translation table, each change journalled (Journal.h)
// by `by`; a change that sets a translation is journalled as Origin::Call.
// The new rows of inserts and modifications must hold keys KeyCheck.h
// accepts (ServerFailureError of code invalid_key or unknown_language,
// before anything is written).
void ApplyRecordChanges(Session& s, const ChangeSet& changes, const Attribution& by);

}  // namespace trd::server
