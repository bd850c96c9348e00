// The converters on the corpus of real form files (skipped when absent).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "authoring/FormBinaryWrite.h"
#include "formfile/FormStream.h"
#include "platform/Errors.h"
#include "platform/Text.h"

namespace trd::form {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = TRD_CORPUS_DIR;

struct Entry {
  std::string source, path, format, binary_version;
  fs::path File() const { return kCorpus / "dfm" / source / path; }
};

// MANIFEST.tsv: one row per corpus file, columns named in the first row.
std::vector<Entry> Manifest() {
  std::ifstream in(kCorpus / "MANIFEST.tsv");
  std::vector<Entry> rows;
  std::string line;
  std::vector<std::string> names;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream ss(line);
    for (std::string c; std::getline(ss, c, '\t');) cells.push_back(c);
    if (names.empty()) {
      names = cells;
      continue;
    }
    auto cell = [&](std::string_view name) {
      for (std::size_t i = 0; i < names.size() && i < cells.size(); ++i)
        if (names[i] == name) return cells[i];
      return std::string();
    };
    rows.push_back({cell("source"), cell("path"), cell("format"), cell("binary_version")});
  }
  return rows;
}

std::string Load(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return std::move(data).str();
}

// Writes every string literal of a line in one spelling (printable
// characters raw in quotes, apostrophe and controls as #n), so that lines
// differing only in how characters are written compare equal.
std::string NormaliseLiterals(std::string_view line) {
  std::string out;
  std::size_t i = 0;
  auto starts_literal = [&](std::size_t k) {
    return line[k] == '\'' ||
           (line[k] == '#' && k + 1 < line.size() && line[k + 1] >= '0' && line[k + 1] <= '9');
  };
  while (i < line.size()) {
    if (!starts_literal(i)) {
      out += line[i++];
      continue;
    }
    std::u32string chars;
    while (i < line.size() && starts_literal(i)) {
      if (line[i] == '#') {
        char32_t code = 0;
        for (++i; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
          code = code * 10 + static_cast<char32_t>(line[i] - '0');
        chars += code;
        continue;
      }
      for (++i; i < line.size();) {
        if (line[i] == '\'') {
          if (i + 1 < line.size() && line[i + 1] == '\'') {
            chars += U'\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        chars += text::DecodeUtf8(line, i);
      }
    }
    bool quoted = false;
    for (char32_t c : chars) {
      bool printable = c >= 32 && c != U'\'';
      if (printable != quoted) out += '\'';
      quoted = printable;
      if (printable)
        text::AppendUtf8(out, c);
      else
        out += "#" + std::to_string(static_cast<std::uint32_t>(c));
    }
    if (quoted) out += '\'';
    if (chars.empty()) out += "''";
  }
  return out;
}

std::vector<std::string> Normalised(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& l : lines) out.push_back(NormaliseLiterals(l));
  return out;
}

// The lines of a text file as the converter decodes it, line ends removed.
std::vector<std::string> FileLines(const std::string& bytes) {
  std::string text = DecodeFormText(bytes, "corpus");
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  return lines;
}

class FormCorpus : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kCorpus / "MANIFEST.tsv")) GTEST_SKIP() << "corpus absent: " << kCorpus;
    entries_ = Manifest();
    ASSERT_FALSE(entries_.empty());
  }
  std::vector<Entry> entries_;
};

TEST(FormCorpusNormalise, SpellsLiteralsOneWay) {
  EXPECT_EQ(NormaliseLiterals("  Caption = 'Configura'#231#245'es'"),
            "  Caption = 'Configurações'");
  EXPECT_EQ(NormaliseLiterals("  Hint = 'D''agua'#13#10"), "  Hint = 'D'#39'agua'#13#10");
  EXPECT_EQ(NormaliseLiterals("  Mask = '#0.00'"), "  Mask = '#0.00'");
  EXPECT_EQ(NormaliseLiterals("  Left = 10"), "  Left = 10");
}

TEST_F(FormCorpus, TextFilesConvertAndComeOutLineForLine) {
  int texts = 0, converted = 0, identical = 0;
  std::string differing;
  for (const Entry& e : entries_) {
    if (e.format != "text") continue;
    ++texts;
    std::string bytes = Load(e.File());
    std::vector<std::string> ours;
    try {
      ours = ObjectResourceToText(bytes, e.File().string());
      ++converted;
    } catch (const Error& x) {
      ADD_FAILURE() << x.what();
      continue;
    }
    if (Normalised(ours) == Normalised(FileLines(bytes)))
      ++identical;
    else
      differing += "  " + e.source + "/" + e.path + "\n";
  }
  std::cout << identical << " of " << texts << " text files come out line for line; differing:\n"
            << differing;
  EXPECT_EQ(converted, texts);
  // The rest are hand-edited files, 15-digit floats of older IDEs and
  // double-byte text cut by byte count.
  EXPECT_GE(identical, 695);
}

TEST_F(FormCorpus, GeneratedBinariesMatchTheirTextOriginalsAndRewriteExactly) {
  int checked = 0;
  for (const Entry& e : entries_) {
    if (e.format != "text" || e.binary_version.empty()) continue;
    std::string binary = Load(kCorpus / e.binary_version);
    std::string name = e.binary_version;
    try {
      EXPECT_EQ(ObjectResourceToText(binary, name), ObjectResourceToText(Load(e.File()), name))
          << name;
      EXPECT_EQ(FormToBinary(ReadForm(binary, name), ResourceHeader::With), binary) << name;
      ++checked;
    } catch (const Error& x) {
      ADD_FAILURE() << x.what();
    }
  }
  EXPECT_GT(checked, 700);
}

TEST_F(FormCorpus, RealBinariesConvertAndTheDamagedOneFailsCleanly) {
  int converted = 0, damaged = 0;
  for (const Entry& e : entries_) {
    if (e.format.rfind("binary", 0) != 0) continue;
    std::string bytes = Load(e.File());
    std::string name = e.File().string();
    if (e.path.ends_with("JvSIMDModifyForm.dfm")) {
      try {
        ObjectResourceToText(bytes, name);
        ADD_FAILURE() << "damaged file accepted";
      } catch (const FormatError& x) {
        EXPECT_EQ(std::string(x.what()).rfind(name + ": offset ", 0), 0u) << x.what();
        ++damaged;
      }
      continue;
    }
    try {
      EXPECT_FALSE(ObjectResourceToText(bytes, name).empty());
      EXPECT_EQ(FormToBinary(ReadForm(bytes, name), ResourceHeader::With), bytes) << name;
      ++converted;
    } catch (const Error& x) {
      ADD_FAILURE() << x.what();
    }
  }
  EXPECT_EQ(damaged, 1);
  EXPECT_EQ(converted, 71);
}

}  // namespace
}  // namespace trd::form
