// Exchange files: the PO and XLIFF 1.2 files translators receive and send
// back. Writing streams units to an output in bounded memory; reading tells
// the format by content, not by file name, and yields the units.
//
//   auto w = MakeWriter(Format::Po, out, {.language = "ENG"}, "eng.po");
//   for (...) w->Add(UnitForText(source, keys, translations));
//   WriteSummary s = w->Finish();           // the output is complete now
//
//   ExchangeFile f = ReadFile("eng.po");     // throws before returning a unit
//
// Failures: a malformed file is a FormatError "FILE:LINE: what" (line 0 is
// left out when no line applies); a file that cannot be opened or read, or
// an output that cannot be written, is an Error naming it. docs/exchange.md
// describes both formats.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "Language.h"
#include "Unit.h"

namespace trd::exchange {

enum class Format { Po, Xliff };

// "PO" or "XLIFF", for messages.
std::string_view FormatName(Format format);

// What a writer puts at the top of a file.
struct FileHeader {
  std::string language;  // the table's code of the target language
  std::string source_language = std::string(kSourceLanguage);
  std::chrono::system_clock::time_point written = std::chrono::system_clock::now();
};

// A unit a writer did not write because the format cannot carry one of its
// texts (see Carriage.h): reported, never written damaged.
struct LeftOut {
  std::string id;
  std::string reason;
};

struct WriteSummary {
  std::size_t written = 0;        // units in the file
  std::size_t empty_sources = 0;  // units with an empty source text: nothing to translate, not written
  std::vector<LeftOut> left_out;
};

class UnitWriter {
 public:
  virtual ~UnitWriter() = default;
  // Adds a unit to the file. Units go out in the order added; memory stays
  // bounded whatever their number.
  virtual void Add(const Unit& unit) = 0;
  // Writes what is pending and the end of the file, and flushes the output.
  // A writer destroyed without Finish leaves an incomplete file.
  virtual WriteSummary Finish() = 0;
};

// A writer of `format` onto `out`; `name` names the output in messages.
std::unique_ptr<UnitWriter> MakeWriter(Format format, std::ostream& out, const FileHeader& header,
                                       std::string name);

// What a read file says about itself.
struct FileInfo {
  Format format = Format::Po;
  std::string language_tag;             // as the file names its target language ("" when it does not)
  std::optional<std::string> language;  // the table's code for that tag, when one maps to it
};

// The format of a file by its content: XLIFF when its first character other
// than a byte-order mark and blanks is "<", PO otherwise. An empty or blank
// file is a FormatError.
Format DetectFormat(const std::filesystem::path& file);

using UnitSink = std::function<void(Unit&&)>;

// Reads every unit of a file in file order into `sink`. The sink may have
// been given units before a malformed part further on throws: callers that
// must not act on part of a file use ReadFile, or read twice.
FileInfo ReadUnits(const std::filesystem::path& file, const UnitSink& sink);

struct ExchangeFile {
  FileInfo info;
  std::vector<Unit> units;
};

// The whole file, or the exception before anything is returned.
ExchangeFile ReadFile(const std::filesystem::path& file);

}  // namespace trd::exchange
