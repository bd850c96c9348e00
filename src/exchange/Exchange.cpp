#include "Exchange.h"

#include <fstream>

#include "Diagnostics.h"
#include "Po.h"
#include "Xliff.h"

namespace trd::exchange {

std::string_view FormatName(Format format) { return format == Format::Po ? "PO" : "XLIFF"; }

std::unique_ptr<UnitWriter> MakeWriter(Format format, std::ostream& out, const FileHeader& header,
                                       std::string name) {
  if (format == Format::Po) return std::make_unique<PoWriter>(out, header, std::move(name));
  return std::make_unique<XliffWriter>(out, header, std::move(name));
}

Format DetectFormat(const std::filesystem::path& file) {
  const std::string path = file.string();
  RequireReadableFile(path);
  std::ifstream in(file, std::ios::binary);
  char head[4096];
  in.read(head, sizeof head);
  if (in.bad()) throw Error(path + ": cannot read");
  std::string_view s(head, static_cast<std::size_t>(in.gcount()));
  // A UTF-16 byte-order mark: only XML comes that way (gettext reads no UTF-16).
  if (s.starts_with("\xFF\xFE") || s.starts_with("\xFE\xFF")) return Format::Xliff;
  if (s.starts_with("\xEF\xBB\xBF")) s.remove_prefix(3);
  std::size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos)
    throw Malformed(path, 0, "the file is empty or blank: neither PO nor XLIFF");
  return s[first] == '<' ? Format::Xliff : Format::Po;
}

FileInfo ReadUnits(const std::filesystem::path& file, const UnitSink& sink) {
  return DetectFormat(file) == Format::Po ? ReadPo(file, sink) : ReadXliff(file, sink);
}

ExchangeFile ReadFile(const std::filesystem::path& file) {
  ExchangeFile f;
  f.info = ReadUnits(file, [&](Unit&& u) { f.units.push_back(std::move(u)); });
  return f;
}

}  // namespace trd::exchange
