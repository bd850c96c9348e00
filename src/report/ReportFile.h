// Report files (*.qr2): their layout, their content as report elements, and
// their conversion to report text. Writing them is authoring/ReportWrite.h.
//
// Layout (see docs/formats.md):
//   offset 0  u16 little-endian signature kReportFileID (bytes 51 B2)
//   offset 2  a binary component stream ("TPF0" ...), encoded exactly as the
//             stream of a binary form file (FormBinary.h), ending the file
// The stream's root object is the design report: class TDesignQuickReport or
// a class derived from it (ReportClasses.h). Its ReportTitle property holds
// the title; its children are bands, which hold elements, nested to any
// depth. Report text is the same document as form text (FormText.h).
//
// Texts of elements (ReportClasses.h tells which property) must be strings,
// and lines must be lists of strings; an element without its property has
// the empty text (one-text classes) or no lines (line classes). All texts are
// UTF-8 whatever string kind stored them.
//
// Every failure is a FormatError starting with the file name, followed by
// "offset N" for malformed bytes or by the element for a malformed element.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ReportClasses.h"
#include "formfile/FormObject.h"

namespace trd::report {

// The 16-bit value every report file starts with ("Q" then 0xB2 on disk; no
// text in UTF-8 can start with these two bytes).
inline constexpr std::uint16_t kReportFileID = 0xB251;
inline constexpr std::size_t kSignatureSize = 2;

// The signature in the first two bytes; nullopt when there are fewer.
std::optional<std::uint16_t> ReadSignature(std::string_view bytes);

// One component of a loaded report that the element walk tests.
struct ReportElement {
  ElementKind kind = ElementKind::Other;
  std::string name;                // component name; may be empty
  std::string class_name;          // the element's own class, as written in the file
  std::vector<std::string> texts;  // one for one-text kinds, the lines for
                                   // line kinds, none for Other
};

// The texts a report file holds.
struct ReportContent {
  std::string title;                    // ReportTitle of the root ("" when absent)
  std::vector<ReportElement> elements;  // every object below the root, depth
                                        // first in file order, Other included
};

enum class SignatureCheck { Check, Skip };

// Reads a report file into its object tree. With Skip, the first two bytes
// are passed over without looking at them (the caller tested them). Raises
// FormatError for a short file, a wrong signature (Check only), a malformed or
// truncated stream, bytes after the stream, or a root that is no design
// report.
form::FormObject ReadReportTree(std::string_view bytes, std::string_view file_name,
                                SignatureCheck check = SignatureCheck::Check);

// The root's title and elements. Raises FormatError naming the element (or
// the report) whose text property is not a string or list of strings, and
// for a root that is no design report.
ReportContent ContentOf(const form::FormObject& root, std::string_view file_name);

// A report file as lines of canonical report text (UTF-8, no line ends).
std::vector<std::string> ReportToText(std::string_view bytes, std::string_view file_name);

}  // namespace trd::report
