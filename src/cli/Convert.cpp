// trd convert FILE: prints the canonical text of a form file (binary or
// text), one line per line, or the reason it cannot be read (exit status 1).
// trd convert --binary OUT FILE: writes the form file as a binary form file
// with the resource header instead (nothing is written when FILE cannot be
// read).
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "authoring/FormBinaryWrite.h"
#include "formfile/FormStream.h"
#include "platform/Errors.h"
#include "platform/SourceFile.h"
#include "platform/Text.h"
#include "report/ReportFile.h"

namespace trd::cli {
namespace {

std::string Extension(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return text::UpperAscii(std::string_view(path).substr(dot));
}

// The text lines of a source file, chosen by its kind: report files (.QR2)
// as report text, every other file as a form file.
std::vector<std::string> ConvertFile(const std::string& path) {
  std::string bytes = ReadSourceFile(path);
  if (Extension(path) == ".QR2") return report::ReportToText(bytes, path);
  return form::ObjectResourceToText(bytes, path);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw Error("cannot create " + path);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  out.close();
  if (!out) throw Error("cannot write " + path);
}

}  // namespace

void AddConvert(CLI::App& app, int& exit_code) {
  auto* cmd = app.add_subcommand("convert", "Print the form text of a form file (binary or text)");
  auto path = std::make_shared<std::string>();
  auto binary_out = std::make_shared<std::string>();
  cmd->add_option("FILE", *path, "form file (.dfm)")->required();
  cmd->add_option("--binary", *binary_out,
                  "write a binary form file (with resource header) to this path");
  cmd->callback([path, binary_out, &exit_code] {
    try {
      if (!binary_out->empty()) {
        WriteFile(*binary_out,
                  form::FormTextToBinary(ReadSourceFile(*path), form::ResourceHeader::With, *path));
        exit_code = 0;
        return;
      }
      std::vector<std::string> lines = ConvertFile(*path);
      std::string out;
      for (const std::string& l : lines) {
        out += l;
        out += '\n';
      }
      std::fwrite(out.data(), 1, out.size(), stdout);
      std::fflush(stdout);
      exit_code = 0;
    } catch (const Error& e) {
      std::cerr << "trd convert: " << e.what() << "\n";
      exit_code = 1;
    }
  });
}

}  // namespace trd::cli
