// The width gate: the second check of the import button, at the duplicate
// gate's moment (nothing read or written yet). A file whose program code
// (protocol::ProgramCode: its name up to the first ".") is wider than the
// record's CDPROGRAMA column could never be stored: the server would refuse
// its first text and end the run there. Such files are listed before the run
// with the reason and what to do, and the caller goes on without them or
// stops (`trd harvest`: exit status 5 unless --skip-unstorable; the screen:
// a review in which the user chooses).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "SelectionLists.h"

namespace trd::run {

// A selected file the translation table cannot hold, and why.
struct UnstorableFile {
  std::string path;
  // "o código do programa ABC... tem 27 caracteres; renomeie o arquivo para
  // no máximo 20 caracteres antes do primeiro ponto"
  std::string reason;
};

// The widest program code the table holds, in characters (the width of
// CDPROGRAMA in protocol/Record.h).
std::size_t ProgramCodeWidth();

// The form and report files of `paths` whose program code does not fit, in
// list order. Other files are never read and are not listed.
std::vector<UnstorableFile> FindUnstorable(const StringList& paths);

enum class WidthGate { Open, Closed };
WidthGate CheckWidths(const std::vector<UnstorableFile>& unstorable);

// `paths` without the files of `unstorable`, order kept.
StringList WithoutUnstorable(const StringList& paths, const std::vector<UnstorableFile>& unstorable);

// One line per file: "PATH: REASON" (the path as text).
std::string UnstorableList(const std::vector<UnstorableFile>& unstorable);

}  // namespace trd::run
