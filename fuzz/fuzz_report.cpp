// Report files (*.qr2): what the report loader reads (tree and content), and
// the conversion to report text. A file that loads must give report text
// that builds a report file with the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "authoring/ReportWrite.h"
#include "platform/Errors.h"
#include "report/ReportFile.h"

using namespace trd;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string text;
  try {
    // The loader passes over the signature (the importer tested it).
    form::FormObject root = report::ReadReportTree(bytes, "fuzz.qr2", report::SignatureCheck::Skip);
    report::ContentOf(root, "fuzz.qr2");
    text = fuzz::Join(report::ReportToText(bytes, "fuzz.qr2"));
  } catch (const FormatError&) {
    return 0;
  }
  std::string file;
  try {
    file = report::ReportFromText(text, "canonical.txt");
  } catch (const FormatError& e) {
    std::fprintf(stderr, "%s\n--- text ---\n%s", e.what(), text.c_str());
    fuzz::Require(false, "report text of a loaded report builds a report file");
  }
  fuzz::Require(fuzz::Join(report::ReportToText(file, "again.qr2")) == text,
                "report -> text -> report -> text gives the same text");
  return 0;
}
