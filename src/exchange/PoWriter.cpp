#include <ctime>

#include "Carriage.h"
#include "Diagnostics.h"
#include "KeyText.h"
#include "Po.h"
#include "platform/Errors.h"

namespace trd::exchange {
namespace {

constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);
// The characters of a translation a comment quotes at most.
constexpr std::size_t kCommentQuote = 500;

// PO-Revision-Date in the form msgfmt expects: "2026-05-01 14:30+0000".
std::string RevisionDate(std::chrono::system_clock::time_point t) {
  std::time_t secs = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M+0000", &tm);
  return buf;
}

std::string HeaderEntry(const FileHeader& h) {
  return "Project-Id-Version: trd\n"
         "PO-Revision-Date: " +
         RevisionDate(h.written) +
         "\n"
         "Last-Translator: \n"
         "Language-Team: \n"
         "Language: " +
         LanguageTag(h.language, TagStyle::Posix) +
         "\n"
         "MIME-Version: 1.0\n"
         "Content-Type: text/plain; charset=UTF-8\n"
         "Content-Transfer-Encoding: 8bit\n"
         "X-Source-Language: " +
         LanguageTag(h.source_language, TagStyle::Posix) + "\n";
}

po_message_t NewMessage(std::string_view msgid, std::string_view msgstr) {
  po_message_t m = po_message_create();
  po_message_set_msgid(m, std::string(msgid).c_str());
  po_message_set_msgstr(m, std::string(msgstr).c_str());
  return m;
}

// msgfmt's newline rule for a translated entry (gettext's check_pair): both
// texts begin with "\n" or neither does, and both end with "\n" or neither.
bool MsgfmtRefuses(std::string_view msgid, std::string_view msgstr) {
  auto begins = [](std::string_view s) { return !s.empty() && s.front() == '\n'; };
  auto ends = [](std::string_view s) { return !s.empty() && s.back() == '\n'; };
  return !msgstr.empty() && (begins(msgid) != begins(msgstr) || ends(msgid) != ends(msgstr));
}

void SetNote(po_message_t m, std::string_view note) {
  po_message_set_extracted_comments(m, (std::string(note) + "\n").c_str());
}

// Translator comments for what the translator chooses from: every distinct
// translation the records hold, with how many hold it; who approved the
// translation or sent it back; or where a suggestion comes from. Texts are quoted on one line each.
std::string Comments(const Unit& unit) {
  std::string out;
  for (const Alternative& a : unit.alternatives) {
    if (!Carried(a.translation, Format::Po)) continue;
    out += "trd: " + std::to_string(a.records) + (a.records == 1 ? " record holds " : " records hold ") +
           Quoted(a.translation, kCommentQuote) + "\n";
  }
  if (const auto note = ReviewNoteOf(unit)) out += *note + "\n";
  if (unit.suggestion && !unit.translation)
    out += unit.suggestion->source == unit.source
               ? std::string("trd: suggested: the translation memory's for this text\n")
               : "trd: suggested: the translation of a " + std::to_string(unit.suggestion->similarity) +
                     "% similar text (#| msgid)\n";
  return out;
}

}  // namespace

PoWriter::PoWriter(std::ostream& out, const FileHeader& header, std::string name, std::size_t page_units)
    : out_(out),
      name_(std::move(name)),
      page_units_(page_units ? page_units : 1),
      header_entry_(HeaderEntry(header)) {
  StartPage();
  header_text_ = WritePage(page_.get());
  Emit(header_text_);
}

void PoWriter::StartPage() {
  page_.reset(po_file_create());
  at_.reset(po_message_iterator(page_.get(), nullptr));
  po_message_insert(at_.get(), NewMessage("", header_entry_));
  in_page_ = 0;
}

std::string PoWriter::WritePage(po_file_t page) {
  po::GettextCall call(po::Operation::Write);
  po_file_write(page, scratch_.path().c_str(), call.handler());
  if (call.first_error()) throw Error(name_ + ": cannot write PO: " + call.first_error()->text);
  return scratch_.Contents();
}

void PoWriter::FlushPage() {
  if (in_page_ == 0) return;
  at_.reset();
  std::string text = WritePage(page_.get());
  // Each page is a file of its own that starts with the same header; its
  // entries follow the header and the blank line that separates entries.
  if (text.compare(0, header_text_.size(), header_text_) != 0 || text.size() <= header_text_.size())
    throw Error(name_ + ": libgettextpo wrote a page that does not begin with the header it wrote before");
  Emit(std::string_view(text).substr(header_text_.size()));
  StartPage();
}

void PoWriter::Emit(std::string_view bytes) {
  out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out_) throw Error(name_ + ": cannot write");
}

void PoWriter::Add(const Unit& unit) {
  if (!Admit(unit, Format::Po, summary_)) return;
  const std::string translation = unit.translation.value_or("");
  po_message_t m = NewMessage(unit.source, "");
  if (unit.context) po_message_set_msgctxt(m, KeyText(*unit.context).c_str());
  for (const protocol::RecordKey& key : unit.keys) po_message_add_filepos(m, KeyText(key).c_str(), kNoLine);
  if (std::string comments = Comments(unit); !comments.empty()) po_message_set_comments(m, comments.c_str());
  switch (unit.state) {
    case State::Translated:
      po_message_set_msgstr(m, translation.c_str());
      if (translation.empty()) SetNote(m, kEmptyTranslationNote);
      if (MsgfmtRefuses(unit.source, translation)) {
        po_message_set_fuzzy(m, 1);
        SetNote(m, kNewlineFuzzyNote);
      }
      break;
    case State::NeedsReview:
    case State::NeedsTranslation:
      if (const auto& s = unit.suggestion;
          s && !unit.translation && Carried(s->translation, Format::Po) && Carried(s->source, Format::Po)) {
        // As msgmerge --previous writes a fuzzy match: the translation of the
        // similar text, and that text as the previous msgid.
        po_message_set_msgstr(m, s->translation.c_str());
        po_message_set_fuzzy(m, !s->translation.empty());
        if (s->source != unit.source) po_message_set_prev_msgid(m, s->source.c_str());
        break;
      }
      po_message_set_msgstr(m, translation.c_str());
      po_message_set_fuzzy(m, !translation.empty());
      break;
  }
  po_message_insert(at_.get(), m);
  ++summary_.written;
  if (++in_page_ >= page_units_) FlushPage();
}

WriteSummary PoWriter::Finish() {
  FlushPage();
  out_.flush();
  if (!out_) throw Error(name_ + ": cannot write");
  return summary_;
}

}  // namespace trd::exchange
