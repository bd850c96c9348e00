// The form-file scanner: walks the text lines of one form file, follows the
// component each line belongs to, picks out the translatable properties and
// hands every text to the sink it is given, under its record key and with
// its verdict (protocol/FoundText.h); what becomes of a text is the sink's
// business (for a run: the record rule on the translation server).
//
// The scanner needs no user interface, store or server: the screen (or the
// command line, or a test) lends it the sink, a status sink, an event pump,
// its cancel flag, the run's language and the date settings.
//
// Failures: a failure of the sink (a failed server call or transfer) and a
// value announced to continue past the last line (FormatError) leave Import
// at once; texts the sink took before stay with it. Lines that fit no rule
// are skipped silently.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTimeText.h"
#include "protocol/FoundText.h"
#include "shared/Services.h"

namespace trd::extract {

using shared::EventPump;
using shared::StatusSink;

// What the screen lends to a scan. The referenced objects must outlive it.
struct ScanEnvironment {
  protocol::TextSink& sink;   // where the texts go
  const bool& cancel;         // boCancelar: read before every line
  std::string language;       // stIdiLeDfm: three-character language code
  const DateTimeText& dates;  // regional settings for IsDateTimeText
  StatusSink status;          // may be empty
  EventPump process_events;   // may be empty
};

// The state of one Import call, shared with the value, list and collection
// readers, which read and advance it directly.
struct ScannerContext {
  ScannerContext(const ScanEnvironment& env, const std::vector<std::string>& lines,
                 std::string program_code)
      : env(env), lines(lines), program_code(std::move(program_code)) {}

  const ScanEnvironment& env;
  const std::vector<std::string>& lines;
  std::size_t line_index = 0;  // the line being read; readers leave it on their last line
  std::string program_code;    // upper-cased in place before the first record of the file
  std::vector<std::string> component_stack;  // open objects, outermost first, upper-case
  std::string header_name;                   // name from the latest object header (upper-case)
  bool page = false;                         // the latest object header is an unnamed page header
  std::string form_name;                     // header name after the file's first line
  bool first_line = true;
  std::string component_name;  // top of the stack as of the latest property line
  std::string property_name;
  std::string value;
  std::string class_name;    // from the latest line containing "object"
  std::string current_line;  // the trimmed current line
};

// Reads one form file. `program_code` is the file name up to its first "."
// (protocol::ProgramCode).
void Import(const ScanEnvironment& env, const std::vector<std::string>& lines,
            std::string program_code);

enum class HeaderKind { None, Object, Inherited };

// Whether the line opens an object: its first 6 characters are "Object" or
// its first 9 "inherited" (ASCII case ignored; no blank needed after the
// word, so a property such as ObjectMenuItem = x counts as a header).
HeaderKind IsObjectHeader(std::string_view line);

// Keeps the component stack, the header name and the page flag: an object
// header pushes its upper-cased name (the text between the word and the first
// ":", possibly empty); an unnamed page header ("object TPage",
// "object TTabPage", "inherited TPage", "inherited TTabPage") pushes the name
// of the enclosing component again and sets the page flag; "end" pops.
void TrackComponent(std::string_view line, ScannerContext& ctx);

// The class name of a header line: the text after the first ": ", trimmed
// (the whole line trimmed when there is none); a position suffix stays.
std::string ReadClassName(std::string_view line);

// Whether the value is exactly "<" and the property a collection name.
bool IsCollectionProperty(std::string_view property, std::string_view value);

// Reads the string list whose header is the current line, one record per
// entry numbered from 0. Ends on the line ending in ")", when the cancel flag
// is set, or at the last line of the file.
void ReadStringList(ScannerContext& ctx);

// Reads the collection whose header ("Name = <") is the current line: one
// record per translatable item property, under the item's name (owner "."
// item counter) and the property path prefixed with the collection name.
// Ends on "end>" (ASCII case ignored), when the cancel flag is set, or at the
// last line of the file.
void ReadCollection(ScannerContext& ctx);

}  // namespace trd::extract
