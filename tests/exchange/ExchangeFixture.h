// Helpers of the exchange tests: keys, writing units to a file and reading
// them back.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "exchange/Exchange.h"
#include "support/TempTree.h"

namespace trd::exchange::testing {

inline protocol::RecordKey Key(std::string component, double number = 0, std::string language = "ENG") {
  return {"CADCLI", "FRMCADCLI", std::move(component), "Caption", number, std::move(language)};
}

inline FileHeader Header(std::string language = "ENG") {
  FileHeader h;
  h.language = std::move(language);
  h.written = std::chrono::sys_days(std::chrono::year(2026) / 5 / 1);
  return h;
}

// Writes `units` to dir/name in `format`; returns the path and the summary.
inline std::string WriteUnits(const test::TempTree& dir, const std::string& name, Format format,
                              const std::vector<Unit>& units, WriteSummary* summary = nullptr,
                              const FileHeader& header = Header()) {
  std::string path = dir.Path(name);
  std::ofstream out(path, std::ios::binary);
  auto writer = MakeWriter(format, out, header, path);
  for (const Unit& u : units) writer->Add(u);
  WriteSummary s = writer->Finish();
  if (summary) *summary = std::move(s);
  return path;
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace trd::exchange::testing
