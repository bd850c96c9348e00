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

bool ReadableCharset(const std::string& charset) {
  for (std::string_view ok : {"UTF-8", "UTF8", "ASCII", "US-ASCII", "CHARSET"})
    if (text::EqualsIgnoreCase(charset, ok)) return true;
  return false;
}

class EntryReader {
 public:
  EntryReader(std::string path, const UnitSink& sink) : path_(std::move(path)), sink_(sink) {}

  FileInfo Read(po_file_t file) {
    for (const char* const* domain = po_file_domains(file); *domain; ++domain)
      if (*domain != kDefaultDomain)
        throw Malformed(
            path_, FindLine(path_, 0, [](std::string_view l) { return StartsWithKeyword(l, "domain"); }),
            "a domain directive (domain \"" + std::string(*domain) + "\"): exchange files hold one domain");
    po::MessageIterator it(po_message_iterator(file, nullptr));
    std::size_t ordinal = 0;
    for (po_message_t m; (m = po_next_message(it.get())) != nullptr; ++ordinal) {
      if (po_message_is_obsolete(m)) continue;
      ordinal_ = ordinal;
      if (po_message_msgctxt(m) == nullptr && *po_message_msgid(m) == '\0')
        Header(po::TakeField(po_file_domain_header(file, nullptr)));
      else
        sink_(Entry(m));
    }
    return info_;
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
    for (int i = 0; po_filepos_t pos = po_message_filepos(m, i); ++i) {
      std::string file = Text(po_filepos_file(pos), "reference");
      if (po_filepos_start_line(pos) != kNoLine) file += ":" + std::to_string(po_filepos_start_line(pos));
      u.keys.push_back(Key(file, "the reference"));
    }
    std::string msgstr = Text(po_message_msgstr(m), "msgstr");
    bool fuzzy = po_message_is_fuzzy(m) != 0;
    std::string notes = po::TakeComments(po_message_extracted_comments(m));
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
  FileInfo info_{Format::Po, {}, std::nullopt};
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
  po::PoFile po;
  {
    po::GettextCall call(po::Operation::Read);
    po = call.ReadFile(path);
    if (const auto& e = call.first_error())
      throw Malformed(e->file.empty() ? path : e->file, e->line, e->text);
  }
  if (!po) throw Error(path + ": cannot read");
  return EntryReader(path, sink).Read(po.get());
}

}  // namespace trd::exchange
