#include "ReportWrite.h"

#include "FormBinaryWrite.h"
#include "formfile/FormText.h"
#include "report/ReportFile.h"

namespace trd::report {

std::string WriteReportFile(const form::FormObject& root, std::string_view file_name) {
  ContentOf(root, file_name);  // refuses what a reader would refuse
  std::string out;
  out.push_back(char(kReportFileID & 0xFF));
  out.push_back(char(kReportFileID >> 8));
  out += form::WriteComponentStream(root, file_name);
  return out;
}

std::string ReportFromText(std::string_view text_bytes, std::string_view file_name) {
  std::string utf8 = form::DecodeFormText(text_bytes, file_name);
  form::FormObject root = form::ParseFormText(utf8, file_name);
  return WriteReportFile(root, file_name);
}

}  // namespace trd::report
