#include "KeyText.h"

#include <array>
#include <charconv>
#include <system_error>
#include <vector>

#include "platform/Text.h"

namespace trd::exchange {
namespace {

constexpr char kSeparator = '/';
constexpr char kHex[] = "0123456789ABCDEF";

constexpr std::array<bool, 256> kKept = [] {
  std::array<bool, 256> kept{};
  for (int c = 0; c < 256; ++c)
    kept[std::size_t(c)] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '_' || c == '-' || c == '+';
  return kept;
}();

bool Kept(char c) { return kKept[static_cast<unsigned char>(c)]; }

// A key is written for every text a harvest sends: the kept characters go
// out a run at a time.
void AppendField(std::string& out, std::string_view field) {
  std::size_t run = 0;  // the first kept character not yet written
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (Kept(field[i])) continue;
    out.append(field.substr(run, i - run));
    const auto b = static_cast<unsigned char>(field[i]);
    const char escaped[] = {'%', kHex[b >> 4], kHex[b & 15]};
    out.append(escaped, sizeof escaped);
    run = i + 1;
  }
  out.append(field.substr(run));
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> DecodeField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    char c = field[i];
    if (Kept(c)) {
      out += c;
      continue;
    }
    if (c != '%' || i + 2 >= field.size()) return std::nullopt;
    int hi = HexValue(field[i + 1]);
    int lo = HexValue(field[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (!text::IsValidUtf8(out)) return std::nullopt;
  return out;
}

}  // namespace

std::string KeyText(const protocol::RecordKey& key) {
  std::array<char, 32> number{};
  auto [end, ec] = std::to_chars(number.data(), number.data() + number.size(), key.number);
  std::string out;
  out.reserve(key.program.size() + key.form.size() + key.component.size() + key.property.size() +
              key.language.size() + 16);
  for (std::string_view field : {std::string_view(key.program), std::string_view(key.form),
                                 std::string_view(key.component), std::string_view(key.property)}) {
    AppendField(out, field);
    out += kSeparator;
  }
  out.append(number.data(), end);
  out += kSeparator;
  AppendField(out, key.language);
  return out;
}

std::optional<protocol::RecordKey> ParseKeyText(std::string_view text) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    std::size_t slash = text.find(kSeparator, start);
    fields.push_back(text.substr(start, slash - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  if (fields.size() != 6) return std::nullopt;
  std::array<std::string, 5> names;
  for (std::size_t i = 0, at = 0; i < fields.size(); ++i) {
    if (i == 4) continue;
    auto decoded = DecodeField(fields[i]);
    if (!decoded) return std::nullopt;
    names[at++] = std::move(*decoded);
  }
  protocol::RecordKey key;
  std::string_view n = fields[4];
  auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), key.number);
  if (n.empty() || ec != std::errc() || end != n.data() + n.size()) return std::nullopt;
  key.program = std::move(names[0]);
  key.form = std::move(names[1]);
  key.component = std::move(names[2]);
  key.property = std::move(names[3]);
  key.language = std::move(names[4]);
  return key;
}

}  // namespace trd::exchange
