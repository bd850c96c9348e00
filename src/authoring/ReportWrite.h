// Writing report files (*.qr2): from an object tree or from report text.
// Authoring tools for `trd mkreport`, the samples and the tests; the harvest
// only reads report files (report/ReportFile.h) and does not link this.
#pragma once

#include <string>
#include <string_view>

#include "formfile/FormObject.h"

namespace trd::report {

// The signature followed by the tree's component stream. The tree must be a
// valid report (as ContentOf checks).
std::string WriteReportFile(const form::FormObject& root, std::string_view file_name);

// The bytes of a report text file (decoded as form text is: UTF-8 with or
// without BOM, UTF-16 with BOM, else Windows-1252) as a report file. The text
// must describe a valid report.
std::string ReportFromText(std::string_view text_bytes, std::string_view file_name);

}  // namespace trd::report
