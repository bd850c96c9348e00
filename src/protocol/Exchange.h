// The exchange module (kModuleExchange) as client and server share it: the
// choices its methods take as text, the shapes of the packets it exchanges
// beyond the record packet, and the page cursor. Arguments and results:
// docs/server.md ("The exchange module").
//
// Pages: GetRegistros, GetTextos and GetRegTextos answer at most the page
// size asked for (1 to kMaxPageRows records, in a fixed order), and at most
// about kMaxPageBytes (PageBytes): a page ends with the record that brings
// it to kMaxPageBytes. So a page is the last only when it is shorter than
// asked and under kMaxPageBytes (IsLastPage). The next page is asked for
// with the cursor of the last record of the page (CursorAfter), which the
// server reads back (ParseCursor).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Record.h"
#include "platform/Value.h"

namespace trd::protocol {

// The largest page of records a listing answers, and the most changes one
// SetTraducoes takes: a page is one response held whole on both sides.
inline constexpr std::size_t kMaxPageRows = 5000;
inline constexpr std::size_t kMaxTranslationChanges = 5000;

// The bytes of records at which a page ends, whatever its size asked: an
// answer the server holds while a client is slow to read it, so it is
// bounded (a page of 5000 records of 4000-character texts would be some
// 80 MB). A page goes past it by at most one record (PageBytes).
inline constexpr std::size_t kMaxPageBytes = std::size_t(1) << 20;  // 1 MiB

// The program codes a list of programs (GetRegistros, GetCobertura,
// GetRegTextos) names at most.
inline constexpr std::size_t kMaxProgramsAsked = 100;

// Counts a page's records as both sides measure them: each text's bytes
// (UTF-8, as stored) plus 16 per field (numbers, times, nulls, the
// encoding's marks).
class PageBytes {
 public:
  // Adds a record; false once the page holds kMaxPageBytes or more.
  bool Add(const Row& record);
  bool Full() const { return bytes_ >= kMaxPageBytes; }

 private:
  std::size_t bytes_ = 0;
};

// Whether `page`, asked for `asked` records, is the last of its listing:
// fewer records than asked, and not ended by kMaxPageBytes.
bool IsLastPage(const Packet& page, std::size_t asked);

// Which records a listing takes: every one, the translated ones (state "T"),
// the others (state "N", or none), the translated ones no reviewer approved
// (never reviewed, sent back, or changed since), or the approved ones
// (review state kReviewApproved, Review.h on the server).
enum class StateFilter { All, Translated, Untranslated, Unreviewed, Approved };
// "all" (or ""), "translated", "untranslated", "unreviewed", "approved";
// ASCII case ignored.
std::optional<StateFilter> ParseStateFilter(std::string_view s);
std::string_view StateFilterName(StateFilter f);

// The order of GetRegistros: key order, or the latest change first (records
// never changed last), then key order.
enum class RecordOrder { Key, Recent };
std::optional<RecordOrder> ParseRecordOrder(std::string_view s);  // "key" (or ""), "recent"
std::string_view RecordOrderName(RecordOrder o);

// How GetTextos compares its substring filter with the source texts: as is,
// with the letters A-Z and a-z taken as equal (no other letter folded), or
// folded, case and accents aside in every script (server/TextFold.h).
enum class TextMatch { Exact, IgnoreAsciiCase, Folded };
// "exact" (or ""), "ascii-nocase", "folded"
std::optional<TextMatch> ParseTextMatch(std::string_view s);
std::string_view TextMatchName(TextMatch m);

// SetTraducoes either applies its changes or tells what applying would do.
enum class SetMode { Apply, DryRun };
std::optional<SetMode> ParseSetMode(std::string_view s);  // "apply", "dry-run"
std::string_view SetModeName(SetMode m);

// What became of one change of SetTraducoes:
//   Translated  at least one record took the translation;
//   Already     every record concerned held it already (state "T");
//   Stale       no record of the language holds the expected source text (a
//               per-key change: the record holds another source text);
//   Missing     a per-key change whose record does not exist.
enum class SetOutcome { Translated, Already, Stale, Missing };
std::optional<SetOutcome> ParseSetOutcome(std::string_view s);
std::string_view SetOutcomeName(SetOutcome o);  // "translated", "already", "stale", "missing"

// GetCobertura's packet: IDIDIOMA (3), CDPROGRAMA (20; null in the rows per
// language), NRTOTAL, NRTRADUZIDO, NRPENDENTE, NRNAOTRADUZIVEL (floats
// holding counts). NRTOTAL counts the translatable records
// (protocol/Translatable.h), NRTRADUZIDO + NRPENDENTE of them;
// NRNAOTRADUZIVEL the others, whatever their state.
const std::vector<FieldDef>& CoverageFields();
enum CoverageField : int { kCovLanguage, kCovProgram, kCovTotal, kCovTranslated, kCovUntranslated, kCovUntranslatable };

// SetTraducoes's changes: CDPROGRAMA, NMFORMULARIO, NMCOMPONENTE,
// NMPROPRIEDADE, NRVALORPROP (all null for a change by source text, all set
// for a change of one record), STAGRVALPROP (the source text the translator
// saw), STVALORPROP (the translation).
const std::vector<FieldDef>& TranslationChangeFields();
enum TranslationChangeField : int {
  kChgProgram, kChgForm, kChgComponent, kChgProperty, kChgNumber, kChgSource, kChgTranslation
};

// SetTraducoes's result, one row per change in order: IDRESULTADO (10, a
// SetOutcomeName), NRTRADUZIDO (records that took the translation, or would),
// NRJATRADUZIDO (records that held it already).
const std::vector<FieldDef>& TranslationOutcomeFields();
enum TranslationOutcomeField : int { kOutOutcome, kOutTranslated, kOutAlready };

// GetRegTextos's and GetSugestoes's list of source texts: one field,
// STAGRVALPROP, at most kMaxTextsAsked rows.
const std::vector<FieldDef>& TextListFields();
inline constexpr std::size_t kMaxTextsAsked = 5000;

// The changes a page of GetHistorico holds at most (it ends at
// kMaxPageBytes as well).
inline constexpr std::size_t kHistoryPageRows = 1000;

// GetSugestoes's result, one row per text asked, in order: STAGRVALPROP
// (the similar source text the suggestion translates; null when there is
// no suggestion), STVALORPROP (its translation), NRSIMILARIDADE (percent,
// 100 for the same text).
const std::vector<FieldDef>& SuggestionFields();
enum SuggestionField : int { kSugSource, kSugTranslation, kSugSimilarity };

// RetRegistros's list of records to retire: CDPROGRAMA, NMFORMULARIO,
// NMCOMPONENTE, NMPROPRIEDADE, NRVALORPROP (the key but the language) and
// STAGRVALPROP (the source text the record held when it was listed; null for
// a record without one). The result, one row per record in order:
// IDRESULTADO (10, a RetireOutcomeName).
const std::vector<FieldDef>& RetireFields();
enum RetireField : int { kRetProgram, kRetForm, kRetComponent, kRetProperty, kRetNumber, kRetSource };
const std::vector<FieldDef>& RetireOutcomeFields();

// What became of one record of RetRegistros:
//   Retired  removed from the table;
//   Missing  no record has the key (removed meanwhile);
//   Changed  the record holds another source text than listed (a harvest
//            stored it again meanwhile): kept.
enum class RetireOutcome { Retired, Missing, Changed };
std::optional<RetireOutcome> ParseRetireOutcome(std::string_view s);
std::string_view RetireOutcomeName(RetireOutcome o);  // "retired", "missing", "changed"

// ---- Review ----------------------------------------------------------------
//
// The review state beside a record (TRDREVISAO on the server, keyed by the
// record's key): approved or sent back, by whom, when. A record without one
// is unreviewed; a change of its text, translation or state takes it away.
inline constexpr std::string_view kReviewApproved = "A";
inline constexpr std::string_view kReviewSentBack = "D";

// GetRegistros and GetRegTextos answer the ten record fields followed by
// these: IDSITREVISAO (1: kReviewApproved, kReviewSentBack, or null when
// unreviewed), NMREVISOR (50: who; null when unknown), DTREVISAO (when).
const std::vector<FieldDef>& ReviewStateFields();
enum ReviewStateField : int { kRevState = kRecordFieldCount, kRevBy, kRevWhen };
// The record fields and the review state fields: the pages' packet.
const std::vector<FieldDef>& ReviewedRecordFields();

// What SetRevisao does to the records it is given.
enum class ReviewAction { Approve, SendBack };
std::optional<ReviewAction> ParseReviewAction(std::string_view s);  // "approve", "send-back"
std::string_view ReviewActionName(ReviewAction a);
// The review state an action leaves (kReviewApproved, kReviewSentBack).
std::string_view ReviewStateOf(ReviewAction a);

// SetRevisao's list of records: CDPROGRAMA, NMFORMULARIO, NMCOMPONENTE,
// NMPROPRIEDADE, NRVALORPROP (all null for every record of the language
// holding the source text, all set for one record), STAGRVALPROP (the source
// text the reviewer saw; required without a key, null with one for "any"),
// STVALORPROP (the translation the reviewer saw; null for "the one it
// holds"). The result, one row per entry in order: IDRESULTADO (15, a
// ReviewOutcomeName), NRREVISADO (records whose review state changed).
const std::vector<FieldDef>& ReviewListFields();
enum ReviewListField : int { kRvwProgram, kRvwForm, kRvwComponent, kRvwProperty, kRvwNumber, kRvwSource,
                             kRvwTranslation };
const std::vector<FieldDef>& ReviewOutcomeFields();
enum ReviewOutcomeField : int { kRvoOutcome, kRvoReviewed };

// What became of one entry of SetRevisao:
//   Reviewed      at least one record took the review state;
//   Already       every record concerned was in that state already;
//   Untranslated  no record concerned is translated (state "T"): nothing to
//                 review;
//   Changed       the records hold another source text or translation than
//                 the reviewer saw (changed meanwhile): left as they are;
//   Missing       no record has the key (or, without a key, holds the text).
enum class ReviewOutcome { Reviewed, Already, Untranslated, Changed, Missing };
std::optional<ReviewOutcome> ParseReviewOutcome(std::string_view s);
// "reviewed", "already", "untranslated", "changed", "missing".
std::string_view ReviewOutcomeName(ReviewOutcome o);

// What a cursor holds: the position of one record in the order of a listing.
enum class CursorKind { Key, Recent, Text };
struct PageCursor {
  RecordKey key;
  std::optional<DateTime> time;  // Recent: the record's DTULTATUTRAD
  std::string source;            // Text: the record's STAGRVALPROP
};

// The cursor of the page that follows `record` (a row of the ten record
// fields) in a listing of `kind`: JSON text, opaque to callers.
std::string CursorAfter(CursorKind kind, const Row& record);
// Reads a cursor back; nullopt for "" (the first page). Throws ProtocolError
// for text that is not a cursor of `kind`.
std::optional<PageCursor> ParseCursor(CursorKind kind, std::string_view cursor);

// The key of a row of the ten record fields.
RecordKey KeyOfRecord(const Row& record);

}  // namespace trd::protocol
