#include "ReportLoader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/Errors.h"

namespace trd::report {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

std::string ReadWholeFile(std::string_view path) {
  const std::string p(path);
  File f(std::fopen(p.c_str(), "rb"));
  if (!f) throw Error(p + ": cannot open: " + std::strerror(errno));
  std::string data;
  char buf[1 << 16];
  for (;;) {
    std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
    data.append(buf, n);
    if (n < sizeof buf) break;
  }
  if (std::ferror(f.get())) throw Error(p + ": cannot read: " + std::strerror(errno));
  return data;
}

ReportLoader::ReportLoader() { Reset({}); }

void ReportLoader::Reset(std::string title) {
  components_.clear();
  components_.push_back(ReportElement{ElementKind::DesignReport,
                                      std::string(kDesignReportName),
                                      std::string(ClassOf(ElementKind::DesignReport)->class_name),
                                      {std::move(title)}});
}

void ReportLoader::Load(std::string_view path) {
  Reset({});
  std::string bytes = ReadWholeFile(path);
  form::FormObject root = ReadReportTree(bytes, path, SignatureCheck::Skip);
  ReportContent content = ContentOf(root, path);
  Reset(std::move(content.title));
  for (auto& e : content.elements) components_.push_back(std::move(e));
}

}  // namespace trd::report
