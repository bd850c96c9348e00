#include "ReportLoader.h"

#include "platform/SourceFile.h"

namespace trd::report {

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
  std::string bytes = ReadSourceFile(path);
  form::FormObject root = ReadReportTree(bytes, path, SignatureCheck::Skip);
  ReportContent content = ContentOf(root, path);
  Reset(std::move(content.title));
  for (auto& e : content.elements) components_.push_back(std::move(e));
}

}  // namespace trd::report
