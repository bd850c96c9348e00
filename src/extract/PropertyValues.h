// The value reader of form text: splitting a property line into name and
// value, gathering values written over several lines, decoding string
// expressions, and the tests that decide which values are worth translating.
//
// Text is UTF-8; a "character" is a code point. Positions and counts below
// are in characters; ASCII case folding only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTimeText.h"

namespace trd::extract {

// ---- Property name table ----------------------------------------------------
// The 21 property paths the scanner takes, in three groups (names compared
// ignoring ASCII case).

// The ten single texts: Caption, Hint, Text, SimpleText, Title, ReportTitle,
// DisplayLabel, Title.Caption, DisplayName, EmptyError.
bool IsSimpleTextName(std::string_view property);
// The seven string lists: Lines, Items, Messages, RuntimeMessages, Tabs,
// Hints and PickList, each followed by ".Strings".
bool IsStringListName(std::string_view property);
// The four collections: Sections, Columns, Panels, Dimensions.
bool IsCollectionName(std::string_view property);

// ---- String expressions -----------------------------------------------------

// Decodes form-text string expressions piece by piece. Inside single quotes
// text is literal and a doubled quote is one apostrophe; outside quotes "#"
// and all the decimal digits after it is the character with that code point,
// a "#" not followed by a digit is dropped, and every other character is kept
// as written (so unquoted values such as 10, alClient, ( and < read as they
// stand). A quote left open runs to the end of the piece. A UTF-16 surrogate
// pair written as two codes is one character, also when a line break falls
// between the two codes; a lone surrogate or a code above U+10FFFF becomes
// U+FFFD.
class StringDecoder {
 public:
  // Decodes one piece on its own (quotes never pair across pieces) and
  // appends it to the text.
  void Add(std::string_view piece);
  // The text decoded so far; the decoder is left empty.
  std::string Take();

 private:
  void Emit(char32_t cp);
  void Flush();
  std::string out_;
  char32_t pending_high_ = 0;  // a high surrogate waiting for its partner
};

// Decodes a single piece.
std::string DecodeString(std::string_view piece);

// ---- Property lines ---------------------------------------------------------

struct PropertyLine {
  std::string name;   // property path as written ("Caption", "Title.Caption")
  std::string value;  // decoded value; empty when the line is no property line
};

// Splits the trimmed property line `line` into name and value.
//
// A line holding neither " =" nor " +" gives an empty name and value. The
// name is the text before the first " ="; the value starts after "= ". A
// value ending in " +" continues on the following lines, each a piece, while
// the piece line ends in " +"; a line ending in "=" has its value on the
// following lines the same way. `index` is the position of `line` in `lines`
// and is left on the last line consumed. The value is the concatenation of the
// decoded pieces (each piece: its trimmed line without a trailing " +").
//
// A value announced to continue past the last line raises FormatError naming
// the 1-based number of the property line.
PropertyLine ReadPropertyLine(std::string_view line, const std::vector<std::string>& lines,
                              std::size_t& index);

// ---- Value tests ------------------------------------------------------------

// Whether `text` reads as a date or time under `settings`.
bool IsDateTimeText(std::string_view text, const DateTimeText& settings);

// Whether a property is a single translatable text: its name is a simple
// text name, and the value is neither the component's own name (ASCII case
// ignored), nor a single blank, nor "-", nor a date or time; a component
// without a name never qualifies.
bool IsSimpleTextProperty(std::string_view component, std::string_view property,
                          std::string_view value, const DateTimeText& settings);

// Whether a property goes to the string-list reader. `header_name` is the
// name of the most recent object header. No when the header name is empty or
// equals the value (ASCII case ignored), or the value is a single blank, "-"
// or a date or time; otherwise yes for the string-list names and for
// "Lines.Nodes", "Caption", "Title.Caption", "DisplayName" and
// "DisplayLabel".
bool IsStringListProperty(std::string_view property, std::string_view header_name,
                          std::string_view value, const DateTimeText& settings);

// The last test before a record is made. Yes for the empty value and for a
// value holding at least one character other than the digits and the
// punctuation set (blank ! " # $ % & ( ) * + , - . / : ; < = > ? @ [ \ ] _ |);
// but no for the hint of a menu item (class exactly "TMENUITEM" and property
// exactly "HINT", both upper-cased). `component` is accepted and not used.
bool TestaValorProp(std::string_view value, std::string_view component, std::string_view class_name,
                    std::string_view property);

}  // namespace trd::extract
