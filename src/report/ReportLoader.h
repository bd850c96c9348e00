// The report loader and the design report it fills: what the element walk of
// a report import reads.
//
// The design report exists before any load: it is the component named
// "QuickReport" (class TDesignQuickReport), whose only text is the title of
// the report loaded last ("" before the first load). Loading a file replaces
// the whole report: title and elements. Components() lists what the walk
// tests, in this order: the design report, then the loaded elements in the
// order they were created (depth first, in file order).
//
// Loading does not look at the signature (the importer tests it before); it
// passes over the first two bytes and reads the rest as ReportFile.h
// describes. Paths are handed to the file system whole, whatever their
// length. Not thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ReportFile.h"

namespace trd::report {

inline constexpr std::string_view kDesignReportName = "QuickReport";

class ReportLoader {
 public:
  ReportLoader();

  // Loads the report file at `path` in place of the current report. On
  // failure the design report is left empty (no title, no elements), so no
  // element of an earlier file can be walked again, and the error is raised:
  // Error when the file cannot be opened or read or is not a regular file or
  // exceeds the size limit (platform/SourceFile.h), FormatError when its
  // content is malformed (all name the file and the problem).
  void Load(std::string_view path);

  // The design report followed by the loaded elements.
  const std::vector<ReportElement>& Components() const { return components_; }
  const std::string& Title() const { return components_.front().texts.front(); }

 private:
  void Reset(std::string title);
  std::vector<ReportElement> components_;
};

}  // namespace trd::report
