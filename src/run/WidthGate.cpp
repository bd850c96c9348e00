#include "WidthGate.h"

#include <algorithm>
#include <unordered_set>

#include "ImportRun.h"
#include "platform/Text.h"
#include "protocol/Record.h"

namespace trd::run {

std::size_t ProgramCodeWidth() { return std::size_t(protocol::RecordFields()[protocol::kCdPrograma].size); }

std::vector<UnstorableFile> FindUnstorable(const StringList& paths) {
  const std::size_t width = ProgramCodeWidth();
  std::vector<UnstorableFile> found;
  for (const std::string& path : paths) {
    if (KindOf(path) == FileKind::Other) continue;
    const std::string code = protocol::ProgramCode(path);
    const std::size_t length = text::Length(code);
    if (length <= width) continue;
    found.push_back({path, "o código do programa " + code + " tem " + std::to_string(length) +
                               " caracteres; renomeie o arquivo para no máximo " + std::to_string(width) +
                               " caracteres antes do primeiro ponto"});
  }
  return found;
}

WidthGate CheckWidths(const std::vector<UnstorableFile>& unstorable) {
  return unstorable.empty() ? WidthGate::Open : WidthGate::Closed;
}

StringList WithoutUnstorable(const StringList& paths, const std::vector<UnstorableFile>& unstorable) {
  std::unordered_set<std::string> left_out;
  for (const UnstorableFile& f : unstorable) left_out.insert(f.path);
  StringList kept;
  std::copy_if(paths.begin(), paths.end(), std::back_inserter(kept),
               [&](const std::string& p) { return !left_out.contains(p); });
  return kept;
}

std::string UnstorableList(const std::vector<UnstorableFile>& unstorable) {
  std::string out;
  for (const UnstorableFile& f : unstorable) out += text::PathText(f.path) + ": " + f.reason + "\n";
  return out;
}

}  // namespace trd::run
