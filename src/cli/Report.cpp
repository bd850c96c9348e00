// trd mkreport TEXTFILE OUT.qr2: builds a report file from report text (the
// form-text syntax, root object a design report). The output is written only
// when the text is a valid report; any failure is printed with its file and
// place and gives exit status 1.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "Commands.h"
#include "authoring/ReportWrite.h"
#include "platform/Errors.h"
#include "platform/SourceFile.h"
#include "report/ReportFile.h"

namespace trd::cli {
namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw Error(path + ": cannot create");
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) throw Error(path + ": cannot write");
}

}  // namespace

void AddMkReport(CLI::App& app, int& exit_code) {
  auto* cmd = app.add_subcommand("mkreport", "Build a report file (.qr2) from report text");
  auto text_path = std::make_shared<std::string>();
  auto out_path = std::make_shared<std::string>();
  cmd->add_option("TEXTFILE", *text_path, "report text (form-text syntax)")->required();
  cmd->add_option("OUT", *out_path, "report file to write (.qr2)")->required();
  cmd->callback([text_path, out_path, &exit_code] {
    try {
      std::string bytes = report::ReportFromText(ReadSourceFile(*text_path), *text_path);
      WriteFile(*out_path, bytes);
      exit_code = 0;
    } catch (const Error& e) {
      std::cerr << "trd mkreport: " << e.what() << "\n";
      exit_code = 1;
    }
  });
}

}  // namespace trd::cli
