// The exchange module's operations on the translation table, on one storage
// session (docs/server.md, "The exchange module"): pages of a language's
// records, coverage counts, pages of records by source text, and
// translations set on the condition that the source text is still the one
// the translator saw. Packets and choices: protocol/Exchange.h.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "Attribution.h"
#include "Database.h"
#include "protocol/Exchange.h"

namespace trd::server {

struct RecordsQuery {
  std::string language;               // required
  protocol::StateFilter state = protocol::StateFilter::All;
  std::vector<std::string> programs;  // empty: every program
  std::string form;                   // empty: every form
  protocol::RecordOrder order = protocol::RecordOrder::Key;
  std::optional<protocol::PageCursor> after;  // the last record of the previous page
  std::size_t page = protocol::kMaxPageRows;  // 1..kMaxPageRows
};

// At most `page` records (the ten fields and the review state,
// protocol::ReviewedRecordFields; a page also ends at
// protocol::kMaxPageBytes, protocol::PageBytes) of the language that pass the
// filters, following `after` in the order asked for: key order (program,
// form, component, property, number), or the latest change first (records
// without a time last), key order among equal times.
Packet RecordsPage(Session& s, const RecordsQuery& q);

// The record of `key` with its review state (protocol::ReviewedRecordFields);
// no row when there is none.
Packet ReviewedRecordOfKey(Session& s, const protocol::RecordKey& key);

// Language given: per program of the language (ordered by code), its
// translatable records (protocol/Translatable.h), the translated ones (state
// "T") and the others, and apart the records that are not translatable. No language
// (empty): per language, every code of TRDIDIOMA and every code the records
// hold (ordered by code), CDPROGRAMA null. Packet: protocol::CoverageFields().
// `programs` (a language given): those programs only, the ones that hold
// records of the language; empty, every program.
Packet Coverage(Session& s, const std::string& language, const std::vector<std::string>& programs = {});

struct TextsQuery {
  std::string language;  // empty: every language
  std::string filter;    // substring of the source text; empty: every text
  protocol::TextMatch match = protocol::TextMatch::Exact;
  std::optional<protocol::PageCursor> after;
  std::size_t page = protocol::kMaxPageRows;
};

// At most `page` records (the ten fields; ended at kMaxPageBytes as well)
// with a source text, ordered by
// source text (code point order), then language, then key: the records that
// hold one text are consecutive, so a caller groups them into distinct texts
// with their keys and translations (a text may continue on the next page).
Packet TextsPage(Session& s, const TextsQuery& q);
// How many distinct source texts TextsPage lists for `q` in all (its cursor
// and page size aside).
std::int64_t CountTexts(Session& s, const TextsQuery& q);

struct TextRecordsQuery {
  std::string language;               // required
  std::vector<std::string> programs;  // empty: every program
  std::vector<std::string> texts;     // 1..kMaxTextsAsked source texts
  // Continues the records of texts[0] after this key (its source must be
  // texts[0]); none: from the first.
  std::optional<protocol::PageCursor> after;
  std::size_t page = protocol::kMaxPageRows;
};

// At most `page` records (the ten fields and the review state; ended at
// kMaxPageBytes as well) of the language and programs that hold the texts, in the order of the list, each text's records in key order.
// A last page (protocol::IsLastPage) holds every record of every text; any
// other stops anywhere, and the next is asked for with the texts from the last
// record's on and the cursor of that record.
Packet RecordsOfTexts(Session& s, const TextRecordsQuery& q);

// Applies (or, with DryRun, only weighs) a list of changes (packet of
// protocol::TranslationChangeFields(), at most kMaxTranslationChanges rows)
// to the records of `language`, in one transaction: a change by source text
// goes to every record of the language whose STAGRVALPROP is exactly that
// text; a change with a key to that record, when its STAGRVALPROP is that
// text. A record takes STVALORPROP = the translation, IDSITTRADUCAO "T" and
// DTULTATUTRAD = `by.when`, unless it holds that translation in state "T"
// already; each record changed is journalled (Journal.h) by `by`. The
// translation of a change no record took because none holds its source text
// (stale, missing) is remembered all the same, unless the memory has it.
// Returns one row per change (protocol::TranslationOutcomeFields()).
// Throws ProtocolError / FieldError for a list that does not fit (wrong
// fields, a key given in part, a null or too long translation): nothing is
// applied then.
Packet SetTranslations(Session& s, const std::string& language, const Packet& changes, protocol::SetMode mode,
                       const Attribution& by);

// RetRegistros: removes the records of `language` listed in `records`
// (packet of protocol::RetireFields(), any number of rows) from the table,
// in one transaction, each only when it still holds the source text listed
// (a record a harvest stored again meanwhile is kept). Each removal is
// journalled (Journal.h) by `by`, so the translation of a translated record
// stays in the translation memory. Returns one row per record
// (protocol::RetireOutcomeFields()). Throws ProtocolError / FieldError for a
// list that does not fit: nothing is removed then. Records leave the table
// this way only (a harvest replaces records, never retires them).
Packet RetireRecords(Session& s, const std::string& language, const Packet& records, const Attribution& by);

// SetRevisao: gives the records of `language` listed in `records` (packet of
// protocol::ReviewListFields(), at most kMaxTranslationChanges rows) the
// review state of `action` (Review.h), in one transaction: an entry with a
// key its record, one without every record of the language holding its
// source text. A record takes it only when it is translated (state "T") and
// holds the source text and translation the reviewer saw (those given);
// each one that takes it is journalled (Journal::Reviewed) by `by`. Returns
// one row per entry (protocol::ReviewOutcomeFields()). Throws ProtocolError /
// FieldError for a list that does not fit: nothing is reviewed then.
Packet ReviewRecords(Session& s, const std::string& language, protocol::ReviewAction action, const Packet& records,
                     const Attribution& by);

// The indexes these operations need, created by EnsureSchema: the records of
// a language in key order, and those of a language and source text.
void EnsureExchangeIndexes(Session& s);

}  // namespace trd::server
