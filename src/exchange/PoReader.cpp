#include <fstream>
#include <optional>
#include <sstream>

#include "Diagnostics.h"
#include "KeyText.h"
#include "Po.h"
#include "platform/Text.h"

namespace trd::exchange {
namespace {

constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);
constexpr std::string_view kDefaultDomain = "messages";

std::string_view SkipBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

bool StartsWithKeyword(std::string_view line, std::string_view keyword) {
  if (line.substr(0, keyword.size()) != keyword || line.size() == keyword.size()) return false;
  char next = line[keyword.size()];
  return next == ' ' || next == '\t' || next == '"';
}

// The line (from 1) of the `nth` line (from 0) of the file that `match`
// accepts; 0 when there is none. Only used to name the place of an error that
// libgettextpo does not report, since its messages carry no line numbers.
template <typename Match>
std::size_t FindLine(const std::string& path, std::size_t nth, Match match) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number)
    if (match(SkipBlanks(line)) && nth-- == 0) return number;
  return 0;
}

// The line of the msgid of the `ordinal`-th entry, obsolete entries counted
// as libgettextpo lists them.
std::size_t EntryLine(const std::string& path, std::size_t ordinal) {
  return FindLine(path, ordinal, [](std::string_view line) {
    if (line.substr(0, 2) == "#~") line = SkipBlanks(line.substr(2));
    return StartsWithKeyword(line, "msgid");
  });
}

std::optional<std::string> Charset(const std::string& content_type) {
  std::string lower = content_type;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  std::size_t at = lower.find("charset=");
  if (at == std::string::npos) return std::nullopt;
  std::string_view rest = std::string_view(content_type).substr(at + 8);
  std::size_t end = rest.find_first_of("; \t\n");
  return std::string(rest.substr(0, end));
}

// gettext reads a file with CR LF line ends, but keeps the CR of a comment
// line in the comment and that of a "#:" line in its last reference: the
// line end is not part of either.
std::string WithoutLineEndCr(std::string s) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (s[i] != '\r' || (i + 1 < s.size() && s[i + 1] != '\n')) s[out++] = s[i];
  s.resize(out);
  return s;
}

bool ReadableCharset(const std::string& charset) {
  for (std::string_view ok : {"UTF-8", "UTF8", "ASCII", "US-ASCII", "CHARSET"})
    if (text::EqualsIgnoreCase(charset, ok)) return true;
  return false;
}

// Cuts a PO file into pages of whole entries, so that the library, which
// holds what it reads whole, holds one page at a time. A new entry begins
// at a comment, msgctxt or msgid line (obsolete "#~" ones included) that
// follows a msgstr: the page ends before it once it holds kPageEntries
// entries or kPageBytes bytes.
class Pager {
 public:
  static constexpr std::size_t kPageEntries = 1000;
  static constexpr std::size_t kPageBytes = std::size_t(4) << 20;

  explicit Pager(const std::string& path) : in_(path, std::ios::binary) {
    if (!in_) throw Error(path + ": cannot open");
  }

  // The next page's text and the line (from 1) it begins on; false at the end.
  bool Next(std::string& text, std::size_t& first_line) {
    text.clear();
    first_line = pending_.empty() ? line_ + 1 : line_;
    if (!pending_.empty()) {
      text = std::move(pending_);
      pending_.clear();
    }
    std::size_t entries = 0;
    std::string line;
    while (std::getline(in_, line)) {
      ++line_;
      line += '\n';
      if (StartsEntry(line) && ++entries > 1 && (entries > kPageEntries || text.size() >= kPageBytes)) {
        pending_ = std::move(line);
        return true;
      }
      text += line;
    }
    return !text.empty();
  }

 private:
  enum class Last { Other, Msgstr };

  // Whether the line begins an entry, following what came before.
  bool StartsEntry(std::string_view line) {
    std::string_view t = SkipBlanks(line);
    bool comment = false;
    if (t.substr(0, 2) == "#~") {
      t = SkipBlanks(t.substr(2));
      comment = !t.empty() && t.front() == '|';  // "#~|": an obsolete entry's previous msgid
    } else if (!t.empty() && t.front() == '#') {
      comment = true;
    }
    const bool msgstr = !comment && t.substr(0, 6) == "msgstr";
    const bool starts = comment || StartsWithKeyword(t, "msgctxt") || StartsWithKeyword(t, "msgid") ||
                        StartsWithKeyword(t, "domain");
    const bool begins = starts && (last_ == Last::Msgstr || first_);
    if (starts || msgstr) first_ = false;
    if (msgstr) last_ = Last::Msgstr;
    else if (starts) last_ = Last::Other;
    return begins;
  }

  std::ifstream in_;
  std::string pending_;  // the line that begins the next page
  std::size_t line_ = 0;
  Last last_ = Last::Other;
  bool first_ = true;
};

// A header for pages after the first: their entries are the file's, read in
// UTF-8 as the first page's header made sure of.
constexpr std::string_view kPageHeader = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";
constexpr std::size_t kPageHeaderLines = 3;

class EntryReader {
 public:
  // `ordinal` counts the file's entries before this page (the library's
  // order, obsolete ones included); `own_header` says whether the page's
  // header is the file's (the first page) or kPageHeader.
  EntryReader(std::string path, const UnitSink& sink, std::size_t ordinal, bool own_header, FileInfo& info)
      : path_(std::move(path)), sink_(sink), base_(ordinal), own_header_(own_header), info_(info) {}

  // Reads the page's entries; returns how many of the file's it held.
  std::size_t Read(po_file_t file) {
    for (const char* const* domain = po_file_domains(file); *domain; ++domain)
      if (*domain != kDefaultDomain)
        throw Malformed(
            path_, FindLine(path_, 0, [](std::string_view l) { return StartsWithKeyword(l, "domain"); }),
            "a domain directive (domain \"" + std::string(*domain) + "\"): exchange files hold one domain");
    po::MessageIterator it(po_message_iterator(file, nullptr));
    std::size_t ordinal = base_;
    bool page_header = !own_header_;
    for (po_message_t m; (m = po_next_message(it.get())) != nullptr;) {
      const bool header = po_message_msgctxt(m) == nullptr && *po_message_msgid(m) == '\0';
      if (header && page_header) {
        page_header = false;
        continue;
      }
      ordinal_ = ordinal++;
      if (po_message_is_obsolete(m)) continue;
      if (header)
        Header(po::TakeField(po_file_domain_header(file, nullptr)));
      else
        sink_(Entry(m));
    }
    return ordinal - base_;
  }

 private:
  [[noreturn]] void Fail(std::string_view what) const {
    throw Malformed(path_, EntryLine(path_, ordinal_), what);
  }

  void Header(const std::optional<std::string>& entry) {
    if (!entry) return;
    const char* header = entry->c_str();
    if (auto type = po::TakeField(po_header_field(header, "Content-Type"))) {
      auto charset = Charset(*type);
      if (charset && !ReadableCharset(*charset))
        Fail("the charset is " + *charset +
             "; exchange files are read in UTF-8 (convert with msgconv -t UTF-8)");
    }
    if (auto language = po::TakeField(po_header_field(header, "Language"))) {
      info_.language_tag = *language;
      info_.language = LanguageCode(*language);
    }
  }

  std::string Text(const char* text, std::string_view what) const {
    std::string s(text);
    if (!text::IsValidUtf8(s)) Fail("the " + std::string(what) + " is not UTF-8");
    return s;
  }

  protocol::RecordKey Key(const std::string& text, std::string_view what) const {
    auto key = ParseKeyText(text);
    if (!key) Fail(NotAKeyText(what, text));
    return *key;
  }

  Unit Entry(po_message_t m) const {
    Unit u;
    u.source = Text(po_message_msgid(m), "msgid");
    if (po_message_msgid_plural(m) != nullptr)
      Fail("a plural entry (msgid_plural " + Quoted(po_message_msgid_plural(m)) +
           "): exchange files hold no plurals");
    if (const char* context = po_message_msgctxt(m)) u.context = Key(Text(context, "msgctxt"), "msgctxt");
    // References name the records of a per-text unit for the translator;
    // import goes by the source text and needs none. A file converted by
    // another tool (from XLIFF, say) has references of its own, which are
    // passed over.
    for (int i = 0; po_filepos_t pos = po_message_filepos(m, i); ++i) {
      std::string file = WithoutLineEndCr(Text(po_filepos_file(pos), "reference"));
      if (po_filepos_start_line(pos) != kNoLine) file += ":" + std::to_string(po_filepos_start_line(pos));
      if (auto key = ParseKeyText(file)) u.keys.push_back(std::move(*key));
    }
    std::string msgstr = Text(po_message_msgstr(m), "msgstr");
    bool fuzzy = po_message_is_fuzzy(m) != 0;
    std::string notes = WithoutLineEndCr(po::TakeComments(po_message_extracted_comments(m)));
    bool empty_translation =
        ("\n" + notes).find("\n" + std::string(kEmptyTranslationNote) + "\n") != std::string::npos;
    if (!msgstr.empty()) {
      u.translation = std::move(msgstr);
      u.state = fuzzy ? State::NeedsReview : State::Translated;
    } else if (empty_translation && !fuzzy) {
      u.translation = std::string();
      u.state = State::Translated;
    }
    u.id = StableId(u);
    return u;
  }

  std::string path_;
  const UnitSink& sink_;
  std::size_t base_;
  bool own_header_;
  FileInfo& info_;
  std::size_t ordinal_ = 0;
};

}  // namespace

FileInfo ReadPo(const std::filesystem::path& file, const UnitSink& sink) {
  const std::string path = file.string();
  RequireReadableFile(path);
  // gettext takes a byte-order mark for a syntax error; say what it is.
  char head[3] = {};
  std::ifstream(path, std::ios::binary).read(head, 3);
  if (std::string_view(head, 3) == "\xEF\xBB\xBF")
    throw Malformed(
        path, 1,
        "the file begins with a byte-order mark, which gettext does not read: save it as UTF-8 without BOM");
  // Page by page, each read by the library from a scratch file (with a
  // header of its own after the first), errors placed on the file's lines.
  FileInfo info{Format::Po, {}, std::nullopt};
  Pager pager(path);
  po::ScratchFile scratch;
  std::string page;
  std::size_t first_line = 1, ordinal = 0;
  for (bool first = true; pager.Next(page, first_line); first = false) {
    scratch.Replace(first ? page : std::string(kPageHeader) + page);
    po::PoFile po;
    {
      po::GettextCall call(po::Operation::Read);
      po = call.ReadFile(scratch.path());
      if (const auto& e = call.first_error()) {
        std::size_t line = e->line;
        if (!first) line = line > kPageHeaderLines ? line - kPageHeaderLines + first_line - 1 : 0;
        throw Malformed(path, line, e->text);
      }
    }
    if (!po) throw Error(path + ": cannot read");
    ordinal += EntryReader(path, sink, ordinal, first, info).Read(po.get());
  }
  return info;
}

}  // namespace trd::exchange
