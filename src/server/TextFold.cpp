#include "TextFold.h"

#include <sqlite3.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <cstdio>

#include "platform/Errors.h"

namespace trd::server {
namespace {

bool IsFoldedMark(UChar32 c) {
  for (const CodeRange& r : kFoldedMarks)
    if (char32_t(c) >= r.first && char32_t(c) <= r.last) return true;
  return false;
}

// The bracket expression of kFoldedMarks in PostgreSQL's regular
// expressions: "[\u0300-\u036F...]" (a literal, backslashes as they are).
std::string MarksClass() {
  std::string out = "[";
  char buf[16];
  for (const CodeRange& r : kFoldedMarks) {
    std::snprintf(buf, sizeof buf, "\\u%04X-", unsigned(r.first));
    out += buf;
    std::snprintf(buf, sizeof buf, "\\u%04X", unsigned(r.last));
    out += buf;
  }
  return out + "]";
}

void Fold(sqlite3_context* context, int, sqlite3_value** args) {
  if (sqlite3_value_type(args[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(args[0]));
  const int size = sqlite3_value_bytes(args[0]);
  try {
    const std::string folded = FoldedText(std::string_view(text ? text : "", std::size_t(size)));
    sqlite3_result_text(context, folded.data(), int(folded.size()), SQLITE_TRANSIENT);
  } catch (const std::exception& e) {
    sqlite3_result_error(context, e.what(), -1);
  }
}

}  // namespace

std::string FoldedText(std::string_view text) {
  // ASCII, as most texts are, folds to its lower case: no decomposition, no
  // mark; ICU is needed for the others only.
  std::string out(text);
  bool ascii = true;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
    if (c >= 'A' && c <= 'Z') c = char(c + ('a' - 'A'));
  }
  if (ascii) return out;
  out.clear();
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  if (U_FAILURE(status)) throw Error(std::string("ICU has no NFD normalizer: ") + u_errorName(status));
  const icu::UnicodeString decomposed =
      nfd->normalize(icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), std::int32_t(text.size()))), status);
  if (U_FAILURE(status)) throw Error(std::string("ICU could not normalize a text: ") + u_errorName(status));
  icu::UnicodeString bare;
  for (std::int32_t i = 0; i < decomposed.length(); i = decomposed.moveIndex32(i, 1)) {
    const UChar32 c = decomposed.char32At(i);
    if (!IsFoldedMark(c)) bare.append(c);
  }
  bare.toLower(icu::Locale::getRoot()).toUTF8String(out);
  return out;
}

std::string FoldedColumn(Backend backend, std::string_view column) {
  if (backend == Backend::Sqlite) return std::string(kFoldFunction) + "(" + std::string(column) + ")";
  // An ASCII text (as many bytes as characters) skips the decomposition
  // and the regular expression, the costly part, as FoldedText does.
  static const std::string marks = MarksClass();
  const std::string c(column);
  return "CASE WHEN octet_length(" + c + ") = char_length(" + c + ") THEN lower(" + c +
         " COLLATE \"C\") ELSE (lower(regexp_replace(normalize(" + c + ", NFD), '" + marks +
         "', '', 'g') COLLATE \"und-x-icu\") COLLATE \"C\") END";
}

void RegisterFoldFunction(sqlite3* connection) {
  const int rc = sqlite3_create_function_v2(connection, std::string(kFoldFunction).c_str(), 1,
                                            SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr, Fold,
                                            nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK)
    throw StorageError(std::string("cannot register the SQLite function ") + std::string(kFoldFunction) + ": " +
                       sqlite3_errstr(rc));
}

}  // namespace trd::server
