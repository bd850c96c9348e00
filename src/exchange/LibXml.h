// RAII around libxml2 (Debian libxml2-dev): the streaming text writer and
// text reader XLIFF is written and read with. libxml2 is chosen over
// pugixml because its writer escapes CR as &#13; (pugixml writes it raw, and
// every XML reader then turns CR LF into LF), and because both sides stream:
// the writer writes as it goes and the reader keeps one node at a time, with
// its line number.
#pragma once

#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <type_traits>

namespace trd::exchange::xml {

// Initialises the library once per process (libxml2 asks for it before
// threads use it).
void InitLibrary();

struct WriterFree {
  void operator()(xmlTextWriterPtr w) const { xmlFreeTextWriter(w); }
};
using TextWriter = std::unique_ptr<std::remove_pointer_t<xmlTextWriterPtr>, WriterFree>;

// A text writer onto a std::ostream. A failed write of the stream makes
// the writer's calls fail (return -1).
TextWriter WriterTo(std::ostream& out);

struct ReaderFree {
  void operator()(xmlTextReaderPtr r) const { xmlFreeTextReader(r); }
};
using TextReader = std::unique_ptr<std::remove_pointer_t<xmlTextReaderPtr>, ReaderFree>;

// The first error the parser reported, with its line (0 when none).
struct ParseError {
  std::size_t line = 0;
  std::string text;
  int code = 0;  // libxml2's xmlParserErrors
};

// Whether a parse error concerns entities (a reference, a declaration, an
// expansion: a loop or a "billion laughs" bomb included).
bool IsEntityError(int code);

// A text reader of a file that never touches the network nor loads
// external entities or DTDs, and collects the first parse error into
// `error` (which must outlive the reader).
TextReader ReaderOf(const std::string& path, std::optional<ParseError>& error);

// Text of a libxml2 string (null is empty).
inline std::string Str(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : std::string(); }
// An owned libxml2 string (from xmlTextReaderGetAttribute), freed; nullopt for null.
std::optional<std::string> TakeStr(xmlChar* s);

}  // namespace trd::exchange::xml
