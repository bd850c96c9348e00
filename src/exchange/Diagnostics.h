// Messages the readers and the checks share: the error of a malformed
// file, the readable-file check, quoting a text for a message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Errors.h"

namespace trd::exchange {

// The error of a malformed exchange file: "FILE:LINE: what", or "FILE: what"
// when `line` is 0.
FormatError Malformed(const std::string& file, std::size_t line, std::string_view what);

// Throws Error "FILE: cannot open: reason" unless `file` is a regular file
// this process can read.
void RequireReadableFile(const std::string& file);

// "WHAT "TEXT" is not a record key (PROGRAM/FORM/...)": a reference, msgctxt,
// resname or context that does not read as a key text (KeyText.h).
std::string NotAKeyText(std::string_view what, std::string_view text);

// A text for a message: its first `max` characters in quotes ("..." when
// cut), control characters written as \n, \r, \t or \xNN.
std::string Quoted(std::string_view text, std::size_t max = 60);

}  // namespace trd::exchange
