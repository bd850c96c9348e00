// Reading form files: a form file, in whatever format, becomes the lines of
// canonical form text that the form-file scanner reads (the form streaming
// the import run relies on), or an object tree. Writing binary form files is
// authoring/FormBinaryWrite.h.
//
// Formats accepted wherever a "form file" is read:
//   - binary with the 16-bit resource header (bytes FF 0A 00 ...),
//   - a bare binary component stream (starting with "TPF0"),
//   - form text: UTF-8 with or without BOM, UTF-16 with BOM, otherwise
//     Windows-1252 when the bytes are not valid UTF-8.
// Every failure is a FormatError naming the file and the offset (binary) or
// line (text) where reading stopped.
//
// Lower layers, for callers that need them: FormObject.h (tree),
// FormSink.h (events), FormBinary.h (component streams, resource header),
// FormText.h (text decoding, parsing, writing); the formats are described in
// docs/formats.md.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "FormBinary.h"
#include "FormObject.h"
#include "FormText.h"

namespace trd::form {

enum class FormFormat { Binary, Text };

// Binary when the bytes start with FF 0A 00, with "TPF0", or with an FF that
// does not begin a UTF-16 byte order mark; text otherwise.
FormFormat DetectFormFormat(std::string_view bytes);

// The lines of canonical form text (UTF-8, without line ends) of a form file
// in any accepted format. Binary files are converted without building the
// tree.
std::vector<std::string> ObjectResourceToText(std::string_view bytes, std::string_view file_name);
// The same into `buffer.lines()`, reusing the storage of earlier
// conversions: for converting many files in a row. Returns the lines.
const std::vector<std::string>& ObjectResourceToText(std::string_view bytes,
                                                     std::string_view file_name,
                                                     FormTextBuffer& buffer);

// A form file in any accepted format as a tree.
FormObject ReadForm(std::string_view bytes, std::string_view file_name);

}  // namespace trd::form
