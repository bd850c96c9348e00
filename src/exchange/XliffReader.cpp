#include <fstream>
#include <optional>
#include <string_view>

#include "Diagnostics.h"
#include "KeyText.h"
#include "Xliff.h"
#include "XliffNames.h"
#include "platform/Text.h"

namespace trd::exchange {
namespace {

const std::string kEntitiesRefused =
    "entities are refused: exchange files carry plain text, and neither entities nor the DTDs that declare "
    "them are read";

State StateOf(const std::optional<std::string>& state, bool approved) {
  if (!state) return approved ? State::Translated : State::NeedsReview;
  for (const char* s : {"translated", "signed-off", "final"})
    if (*state == s) return State::Translated;
  for (const char* s : {"new", "needs-translation"})
    if (*state == s) return State::NeedsTranslation;
  return State::NeedsReview;
}

class XliffReader {
 public:
  XliffReader(std::string path, const UnitSink& sink)
      : path_(std::move(path)), sink_(sink), r_(xml::ReaderOf(path_, error_)) {}

  FileInfo Read() {
    bool root = false;
    while (Next()) {
      int type = Type();
      if (type == XML_READER_TYPE_ENTITY_REFERENCE) FailEntity();
      if (type != XML_READER_TYPE_ELEMENT) continue;
      if (!root) {
        Root();
        root = true;
      } else if (Ours() && Name() == "file") {
        File();
      } else if (Ours() && Name() == "trans-unit") {
        if (auto u = TransUnit()) sink_(std::move(*u));
      }
    }
    if (!root) Fail("no XML element: not an XLIFF file");
    if (info_.language_tag.empty() && !header_language_.empty()) {
      info_.language_tag = header_language_;
      info_.language = LanguageCode(header_language_);
    }
    return info_;
  }

 private:
  // The line of the node the reader is on (the parser itself may be ahead).
  std::size_t Line() const {
    xmlNodePtr node = xmlTextReaderCurrentNode(r_.get());
    long line = node ? xmlGetLineNo(node) : -1;
    if (line <= 0) line = xmlTextReaderGetParserLineNumber(r_.get());
    return line > 0 ? static_cast<std::size_t>(line) : 0;
  }

  [[noreturn]] void Fail(std::string_view what) const { throw Malformed(path_, Line(), what); }
  [[noreturn]] void FailEntity() const {
    Fail("entity reference &" + Name() + ";: " + kEntitiesRefused);
  }

  // Advances to the next node; false at the end of the document. A parse
  // error is told as what it is: entities refused, a file cut short, or the
  // parser's own words.
  bool Next() {
    int rc = xmlTextReaderRead(r_.get());
    if (rc < 0 || error_) {
      if (error_ && xml::IsEntityError(error_->code))
        throw Malformed(path_, error_->line, kEntitiesRefused + " (" + error_->text + ")");
      if (auto cut = CutShort()) throw Malformed(path_, *cut, "premature end of the file: it stops before the "
                                                               "<xliff> element is closed (is it complete?)");
      if (error_) throw Malformed(path_, error_->line, error_->text);
      Fail("malformed XML");
    }
    if (Type() == XML_READER_TYPE_DOCUMENT_TYPE) RefuseEntityDeclarations();
    return rc == 1;
  }

  // A DTD of the file's own that declares entities: refused before any
  // is used, however few or harmless.
  void RefuseEntityDeclarations() const {
    // Through the current node, not xmlTextReaderCurrentDoc: that call hands
    // the document to the caller, and the reader would no longer free it.
    xmlNodePtr node = xmlTextReaderCurrentNode(r_.get());
    xmlDocPtr doc = node ? node->doc : nullptr;
    if (doc && doc->intSubset && (doc->intSubset->entities || doc->intSubset->pentities))
      Fail("the file's DTD declares entities; " + kEntitiesRefused);
  }

  // The last line of the file when it does not end with the end tag of the
  // root (blanks and NULs of UTF-16 aside): the file was cut short, whatever
  // the parser makes of where it stops. nullopt for a file that ends well.
  std::optional<std::size_t> CutShort() const {
    std::ifstream in(path_, std::ios::binary);
    std::string tail;
    std::size_t lines = 1;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
      const std::string_view chunk(buf, std::size_t(in.gcount()));
      for (char c : chunk)
        if (c == '\n') ++lines;
      tail = tail.substr(tail.size() > 64 ? tail.size() - 64 : 0) + std::string(chunk.substr(chunk.size() > 64 ? chunk.size() - 64 : 0));
    }
    std::string end;
    for (char c : tail)
      if (c != '\0' && c != ' ' && c != '\t' && c != '\r' && c != '\n') end += c;
    if (end.ends_with("xliff>")) return std::nullopt;
    return lines;
  }

  int Type() const { return xmlTextReaderNodeType(r_.get()); }
  int Depth() const { return xmlTextReaderDepth(r_.get()); }
  bool Empty() const { return xmlTextReaderIsEmptyElement(r_.get()) == 1; }
  std::string Name() const { return xml::Str(xmlTextReaderConstLocalName(r_.get())); }
  bool Ours() const {
    std::string ns = xml::Str(xmlTextReaderConstNamespaceUri(r_.get()));
    return ns.empty() || ns == xliff::kNamespace || ns == xliff::kNamespace11;
  }
  std::optional<std::string> Attribute(const char* name) const {
    return xml::TakeStr(xmlTextReaderGetAttribute(r_.get(), reinterpret_cast<const xmlChar*>(name)));
  }

  void Root() {
    if (Name() != "xliff") Fail("the root element is <" + Name() + ">, not <xliff>: not an XLIFF file");
    auto version = Attribute("version");
    if (!version || (*version != xliff::kVersion && *version != xliff::kVersion11))
      Fail("XLIFF version " + version.value_or("(none)") + ": exchange files are XLIFF " + xliff::kVersion +
           " (or " + xliff::kVersion11 + ")");
  }

  void File() {
    std::string tag = Attribute("target-language").value_or("");
    if (files_++ == 0) {
      info_.language_tag = tag;
      info_.language = LanguageCode(tag);
    } else if (tag != info_.language_tag) {
      Fail("a <file> for target language \"" + tag + "\" after one for \"" + info_.language_tag +
           "\": an exchange file holds one language");
    }
  }

  // Skips the element the reader is on, with its content.
  void Skip() {
    if (Empty()) return;
    int depth = Depth();
    while (Next())
      if (Type() == XML_READER_TYPE_END_ELEMENT && Depth() == depth) return;
  }

  // The text content of the element the reader is on. <mrk> and <g> are
  // markers around text: their text is kept. Any other element in a text is
  // an inline code this system never writes and cannot store.
  std::string Text() {
    std::string out;
    if (Empty()) return out;
    const std::string element = Name();
    const int depth = Depth();
    while (Next()) {
      switch (Type()) {
        case XML_READER_TYPE_TEXT:
        case XML_READER_TYPE_CDATA:
        case XML_READER_TYPE_WHITESPACE:
        case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
          out += xml::Str(xmlTextReaderConstValue(r_.get()));
          break;
        case XML_READER_TYPE_ENTITY_REFERENCE:
          FailEntity();
        case XML_READER_TYPE_ELEMENT:
          if (!Ours() || (Name() != "mrk" && Name() != "g"))
            Fail("inline code <" + Name() + "> in <" + element + ">: exchange files carry plain text");
          break;
        case XML_READER_TYPE_END_ELEMENT:
          if (Depth() == depth) return out;
          break;
        default:
          break;
      }
    }
    return out;
  }

  void Keys(Unit& u) {
    if (Empty()) return;
    const int depth = Depth();
    while (Next()) {
      if (Type() == XML_READER_TYPE_END_ELEMENT && Depth() == depth) return;
      if (Type() != XML_READER_TYPE_ELEMENT) continue;
      const auto type = Ours() && Name() == "context" ? Attribute("context-type") : std::nullopt;
      if (type == xliff::kKeyContextType) {
        std::string text = Text();
        auto key = ParseKeyText(text);
        if (!key) Fail(NotAKeyText("context", text));
        u.keys.push_back(std::move(*key));
      } else if (type == xliff::kSourceFileContextType) {
        // A converted PO file's reference: a key when it is a key text.
        if (auto key = ParseKeyText(Text())) u.keys.push_back(std::move(*key));
      } else {
        Skip();
      }
    }
  }

  // The language a converted PO file's header entry names.
  static std::string HeaderLanguage(std::string_view header) {
    constexpr std::string_view kField = "Language:";
    for (std::size_t at = 0; at < header.size();) {
      std::size_t end = std::min(header.find('\n', at), header.size());
      std::string_view line = header.substr(at, end - at);
      if (line.starts_with(kField)) return std::string(text::Trim(line.substr(kField.size())));
      at = end + 1;
    }
    return {};
  }

  // The unit the reader is on; nullopt for a converted PO file's header.
  std::optional<Unit> TransUnit() {
    Unit u;
    auto id = Attribute("id");
    if (!id || id->empty()) Fail("a <trans-unit> without id");
    u.id = *id;
    const bool po_header = Attribute("restype") == xliff::kPoHeaderRestype;
    if (auto resname = Attribute("resname")) {
      u.context = ParseKeyText(*resname);
      if (!u.context) Fail(NotAKeyText("resname", *resname));
    }
    const bool approved = Attribute("approved") == std::optional<std::string>("yes");
    bool has_source = false;
    std::optional<std::string> target;
    std::optional<std::string> state;
    if (!Empty()) {
      const int depth = Depth();
      while (Next()) {
        if (Type() == XML_READER_TYPE_END_ELEMENT && Depth() == depth) break;
        if (Type() == XML_READER_TYPE_ENTITY_REFERENCE) FailEntity();
        if (Type() != XML_READER_TYPE_ELEMENT || Depth() != depth + 1) continue;
        std::string name = Ours() ? Name() : std::string();
        if (name == "source") {
          has_source = true;
          u.source = Text();
        } else if (name == "target") {
          state = Attribute("state");
          target = Text();
        } else if (name == "context-group") {
          Keys(u);
        } else {
          Skip();  // alt-trans, note, seg-source, extensions
        }
      }
    }
    if (!has_source) Fail("the <trans-unit> \"" + u.id + "\" has no <source>");
    if (po_header) {
      if (header_language_.empty()) header_language_ = HeaderLanguage(u.source);
      return std::nullopt;
    }
    if (target) {
      u.state = StateOf(state, approved);
      if (!target->empty() || u.state == State::Translated) u.translation = std::move(target);
    }
    return u;
  }

  std::string path_;
  const UnitSink& sink_;
  std::optional<xml::ParseError> error_;
  xml::TextReader r_;
  FileInfo info_{Format::Xliff, {}, std::nullopt};
  std::string header_language_;  // a converted PO file's "Language:", for a file without target-language
  int files_ = 0;
};

}  // namespace

FileInfo ReadXliff(const std::filesystem::path& file, const UnitSink& sink) {
  const std::string path = file.string();
  RequireReadableFile(path);
  return XliffReader(path, sink).Read();
}

}  // namespace trd::exchange
