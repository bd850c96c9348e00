// The translators' work on the server's pages, on one storage session: the
// untranslated texts of a program (or one of its forms), everything a
// translator needs beside one text, and the conditional set that stores a
// translation typed on the page. The pages themselves are TextPage.h.
//
// A list ("scope") is a language, a program and optionally one of its forms.
// Its untranslated records are those of state other than "T" whose source
// text is translatable (protocol/Translatable.h), in key order; the list page
// groups them by source text. A text is opened by the key of one record
// holding it.
//
// Saving goes through SetTranslations (ExchangeRecords.h), the conditional
// set of `trd import`, as one change by text: every record of the language
// that still holds exactly the source text shown takes the translation,
// journalled with the user and Origin::Page. Before it, the record opened
// must still hold that source text: when a harvest replaced it meanwhile,
// nothing is saved and the outcome carries the new text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Database.h"
#include "Roles.h"
#include "exchange/Checks.h"
#include "protocol/Exchange.h"
#include "protocol/Record.h"

namespace trd::server {

struct WorkScope {
  std::string language;
  std::string program;
  std::string form;  // empty: every form of the program
};

// One record as the workbench shows it: its fields and review state.
struct WorkRecord {
  protocol::RecordKey key;
  std::string source;
  std::string translation;  // STVALORPROP (the source itself while untranslated)
  bool translated = false;  // state "T"
  std::string review;       // protocol::kReviewApproved, kReviewSentBack, or empty
  std::string reviewer;
};

// An untranslated source text of a list and the records of the list holding it.
struct ListedText {
  std::string source;
  std::vector<protocol::RecordKey> keys;
};

struct WorkListPage {
  std::vector<ListedText> texts;
  std::string next;  // the cursor of the following page; empty: the last
};

// A page of the list's untranslated texts: the records of at most `records`
// untranslated records from `after` (a cursor of protocol::CursorKind::Key,
// "" for the first page), grouped by text in order of first appearance.
WorkListPage UntranslatedTexts(Session& s, const WorkScope& scope, const std::string& after, std::size_t records);

// The first untranslated record of the list after `key` in key order, or
// else from the list's start (one the translator skipped); none when the
// list holds no untranslated record but, perhaps, `key` itself.
std::optional<protocol::RecordKey> NextUntranslated(Session& s, const WorkScope& scope,
                                                    const protocol::RecordKey& key);

struct Suggestion {
  std::string source;       // the text whose translation it is
  std::string translation;
  int similarity = 100;     // percent
  enum class From { Records, Memory } from = From::Memory;
};

struct HistoryEntry {
  std::string user;  // empty: the server's token, unknown
  std::optional<DateTime> when;
  std::string origin;  // OriginCode
  std::string old_translation, new_translation;
  std::string old_source, new_source;
  std::string old_review, new_review;
};

// What the translation view of one record shows.
struct TextView {
  WorkRecord record;
  std::vector<WorkRecord> holders;          // every record of the language holding the text (the opened one too)
  std::vector<Suggestion> suggestions;      // exact from translated records, then the memory's
  std::vector<WorkRecord> other_languages;  // the text's records in the other languages
  std::vector<HistoryEntry> history;        // the opened record's, oldest first
};

// The view of the record of `key`; none when no record has the key.
std::optional<TextView> ReadTextView(Session& s, const protocol::RecordKey& key);

// The digest (hex) a page's form carries instead of a text it showed: a
// browser posts a text back with its line breaks rewritten (CR LF in a
// textarea, LF in an attribute), so the text itself cannot tell whether the
// record still holds what was shown.
std::string TextDigest(std::string_view text);

// A translation as a browser sent it (lines ended by CR LF) with the line
// breaks of its source: CR LF when the source has one, else LF.
std::string WithBreaksOf(std::string_view source, std::string_view typed);

// The record of `key`, none when no record has it.
std::optional<WorkRecord> RecordOfKey(Session& s, const protocol::RecordKey& key);

// The checks `trd check` makes, on one translation: errors and notices.
std::vector<exchange::Issue> CheckTyped(const std::string& source, const std::string& translation);
bool HasError(const std::vector<exchange::Issue>& problems);

enum class SaveResult {
  Saved,          // records took the translation
  Already,        // every record held it already
  SourceChanged,  // the opened record holds another source text now (`current`)
  Missing,        // no record has the key any longer
};

struct SaveOutcome {
  SaveResult result = SaveResult::Saved;
  std::size_t records = 0;   // records that took the translation
  std::string current;       // SourceChanged: the source text the record holds now
};

// Sets `translation` for the records of the language holding `shown_source`,
// when the record of `key` still holds it; by `caller` (Origin::Page).
// Throws protocol::ServerFailureError (refused) when the role does not
// permit translating, WidthError for a translation too long.
SaveOutcome SaveTranslation(Session& s, const protocol::RecordKey& key, const std::string& shown_source,
                            const std::string& translation, const Caller& caller);

// Approves or sends back the record of `key`, when it is translated and still
// holds `shown_source` and `shown_translation` (ReviewRecords). Throws
// protocol::ServerFailureError (refused) when the role does not permit it.
protocol::ReviewOutcome ReviewTranslation(Session& s, const protocol::RecordKey& key, protocol::ReviewAction action,
                                          const std::string& shown_source, const std::string& shown_translation,
                                          const Caller& caller);

}  // namespace trd::server
