// PO files, written and read with libgettextpo (GettextPo.h).
//
// Written: UTF-8, a header entry naming the language (Language: en) that
// passes `msgfmt --check-header`, then one entry per unit: `#:` the key text
// of every key (KeyText.h), msgctxt the key text for per-key units, msgid the
// source, msgstr the translation. State:
//   Translated        msgstr; an empty translation is msgstr "" with the
//                     extracted comment kEmptyTranslationNote; an approved
//                     one has the translator comment ReviewNote (Unit.h)
//   NeedsReview       "#, fuzzy" and msgstr; one a reviewer sent back has
//                     the translator comment ReviewNote
//   NeedsTranslation  msgstr "" (a suggested text goes out as fuzzy)
// msgfmt refuses a translation that does not begin, or end, with a line break
// exactly where its source does, though the table may hold one: such a
// unit goes out fuzzy with the comment kNewlineFuzzyNote, so that the file
// passes msgfmt and the translator sees it.
//
// The library holds a whole file in memory, so the writer hands it a page of
// units at a time (kPageUnits) and appends each page's entries to the output
// after the one header: memory stays flat in the number of units.
//
// Read: entries in file order; the header gives the language; obsolete
// entries (#~) are passed over. Fuzzy is NeedsReview, an empty msgstr no
// translation (unless kEmptyTranslationNote marks it). References that are
// key texts are the unit's keys; others (a file another tool converted) are
// passed over. Line ends may be LF or CR LF, as gettext reads them. A file
// that is not UTF-8, has plural or domain entries, or a msgctxt that is not
// a key text, is a FormatError naming the line of the entry.
#pragma once

#include <cstddef>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

#include "Exchange.h"
#include "GettextPo.h"

namespace trd::exchange {

inline constexpr std::string_view kEmptyTranslationNote = "trd: the translation is the empty text";
inline constexpr std::string_view kNewlineFuzzyNote =
    "trd: fuzzy because msgfmt refuses a translation that does not begin and end with a line break "
    "where the source does";

class PoWriter final : public UnitWriter {
 public:
  static constexpr std::size_t kPageUnits = 500;

  PoWriter(std::ostream& out, const FileHeader& header, std::string name,
           std::size_t page_units = kPageUnits);
  void Add(const Unit& unit) override;
  WriteSummary Finish() override;

 private:
  void StartPage();
  void FlushPage();
  std::string WritePage(po_file_t page);
  void Emit(std::string_view bytes);

  std::ostream& out_;
  std::string name_;
  std::size_t page_units_;
  std::string header_entry_;  // the header entry's msgstr
  std::string header_text_;   // the header as the library writes it
  po::ScratchFile scratch_;
  po::PoFile page_;
  po::MessageIterator at_;
  std::size_t in_page_ = 0;
  WriteSummary summary_;
};

FileInfo ReadPo(const std::filesystem::path& file, const UnitSink& sink);

}  // namespace trd::exchange
