// Interim: the exchange module's listing methods are not on this branch yet;
// the languages come from the language list and every count is zero.
#include "Progress.h"

#include "protocol/Methods.h"

namespace trd::server {

std::vector<LanguageProgress> ProgressReader::Languages() {
  std::vector<LanguageProgress> out;
  const Value v = service_.Call(protocol::kModuleForms, protocol::kGetIdiLeDfm, {});
  for (const Row& row : std::get<Packet>(v).rows)
    out.push_back({std::get<std::string>(row[0]), std::get<std::string>(row[1]), {}});
  return out;
}

std::vector<ProgramProgress> ProgressReader::Programs(std::string_view) { return {}; }

std::vector<ListedRecord> ProgressReader::Recent(const std::vector<std::string>&, std::size_t) { return {}; }

SearchPage ProgressReader::Search(std::string_view, std::string_view, std::size_t) { return {}; }

}  // namespace trd::server
