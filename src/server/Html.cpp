#include "Html.h"

#include <cstdio>

namespace trd::server::html {
namespace {

// The length of the UTF-8 sequence at `s[i]`, or 0 when it is not a valid
// one (overlong forms, surrogates and code points beyond U+10FFFF included).
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  const auto second = static_cast<unsigned char>(s[i + 1]);
  if (second < low || second > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (b < 0x80 || b > 0xBF) return 0;
  }
  return n;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decoded(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out += ' ';
    } else if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
      out += char(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    switch (c) {
      case '&': out += "&amp;"; ++i; continue;
      case '<': out += "&lt;"; ++i; continue;
      case '>': out += "&gt;"; ++i; continue;
      case '"': out += "&quot;"; ++i; continue;
      case '\'': out += "&#39;"; ++i; continue;
      default: break;
    }
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      if (c == '\t' || c == '\n' || c == '\r') out += c;
      ++i;
      continue;
    }
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
}

std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  AppendEscaped(out, text);
  return out;
}

Form ParseForm(std::string_view encoded) {
  Form form;
  while (!encoded.empty()) {
    const std::size_t end = encoded.find('&');
    const std::string_view pair = encoded.substr(0, end);
    encoded = end == std::string_view::npos ? std::string_view{} : encoded.substr(end + 1);
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos) form.emplace_back(Decoded(pair), std::string());
    else form.emplace_back(Decoded(pair.substr(0, eq)), Decoded(pair.substr(eq + 1)));
  }
  return form;
}

std::string FormValue(const Form& form, std::string_view name) {
  for (const auto& [key, value] : form)
    if (key == name) return value;
  return {};
}

std::string_view QueryOf(std::string_view target) {
  const std::size_t q = target.find('?');
  if (q == std::string_view::npos) return {};
  std::string_view query = target.substr(q + 1);
  return query.substr(0, query.find('#'));
}

std::string UrlEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    }
  }
  return out;
}

std::string DateText(const std::optional<DateTime>& when) {
  if (!when) return "—";
  int y, mo, d, h, mi, s, ms;
  when->Split(y, mo, d, h, mi, s, ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d", d, mo, y, h, mi);
  return buf;
}

void Hidden(Writer& w, std::string_view name, std::string_view value) {
  w << "<input type=\"hidden\" name=\"" << name << "\" value=\"";
  w.Text(value);
  w << "\">";
}

void OpenDocument(Writer& w, std::string_view title) {
  w << "<!DOCTYPE html>\n<html lang=\"pt-BR\">\n<head>\n<meta charset=\"utf-8\">\n"
       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
  w.Text(title);
  w << "</title>\n<link rel=\"stylesheet\" href=\"/painel.css\">\n";
}

}  // namespace trd::server::html
