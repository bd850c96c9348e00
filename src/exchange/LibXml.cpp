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
  while (!p.text.empty() && (p.text.back() == '\n' || p.text.back() == ' ')) p.text.pop_back();
  *error = std::move(p);
}

}  // namespace

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
