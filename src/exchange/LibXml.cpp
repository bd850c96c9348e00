#include "LibXml.h"

#include <mutex>

#include "platform/Errors.h"

namespace trd::exchange::xml {
namespace {

int WriteToStream(void* context, const char* buffer, int len) {
  auto* out = static_cast<std::ostream*>(context);
  out->write(buffer, len);
  return *out ? len : -1;
}

int CloseStream(void* context) {
  auto* out = static_cast<std::ostream*>(context);
  out->flush();
  return *out ? 0 : -1;
}

void CollectError(void* context, xmlErrorPtr e) {
  auto* error = static_cast<std::optional<ParseError>*>(context);
  if (e == nullptr || e->level == XML_ERR_WARNING || error->has_value()) return;
  ParseError p;
  p.line = e->line > 0 ? static_cast<std::size_t>(e->line) : 0;
  p.text = e->message ? e->message : "malformed XML";
  p.code = e->code;
  while (!p.text.empty() && (p.text.back() == '\n' || p.text.back() == ' ')) p.text.pop_back();
  *error = std::move(p);
}

}  // namespace

bool IsEntityError(int code) {
  switch (code) {
    case XML_ERR_ENTITYREF_AT_EOF:
    case XML_ERR_ENTITYREF_IN_PROLOG:
    case XML_ERR_ENTITYREF_IN_EPILOG:
    case XML_ERR_ENTITYREF_IN_DTD:
    case XML_ERR_UNDECLARED_ENTITY:
    case XML_WAR_UNDECLARED_ENTITY:
    case XML_ERR_UNPARSED_ENTITY:
    case XML_ERR_ENTITY_IS_EXTERNAL:
    case XML_ERR_ENTITY_IS_PARAMETER:
    case XML_ERR_ENTITY_NOT_STARTED:
    case XML_ERR_ENTITY_NOT_FINISHED:
    case XML_ERR_EXT_ENTITY_STANDALONE:
    case XML_ERR_ENTITY_CHAR_ERROR:
    case XML_ERR_ENTITY_PE_INTERNAL:
    case XML_ERR_ENTITY_LOOP:
    case XML_ERR_ENTITY_BOUNDARY:
    case XML_ERR_ENTITY_PROCESSING:
    case XML_WAR_ENTITY_REDEFINED:
      return true;
    default:
      return false;
  }
}

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

TextWriter WriterTo(std::ostream& out) {
  InitLibrary();
  xmlOutputBufferPtr buffer = xmlOutputBufferCreateIO(WriteToStream, CloseStream, &out, nullptr);
  if (buffer == nullptr) throw Error("cannot make an XML output buffer");
  TextWriter w(xmlNewTextWriter(buffer));  // owns the buffer from here on
  if (!w) {
    xmlOutputBufferClose(buffer);
    throw Error("cannot make an XML writer");
  }
  return w;
}

TextReader ReaderOf(const std::string& path, std::optional<ParseError>& error) {
  InitLibrary();
  TextReader r(xmlReaderForFile(path.c_str(), nullptr, XML_PARSE_NONET));
  if (!r) throw Error(path + ": cannot open as XML");
  xmlTextReaderSetStructuredErrorHandler(r.get(), CollectError, &error);
  return r;
}

std::optional<std::string> TakeStr(xmlChar* s) {
  if (s == nullptr) return std::nullopt;
  std::string out(reinterpret_cast<const char*>(s));
  xmlFree(s);
  return out;
}

}  // namespace trd::exchange::xml
