#include "FormScanner.h"

#include <array>

#include "PropertyValues.h"
#include "RecordCreation.h"
#include "platform/Text.h"
#include "shared/Services.h"

namespace trd::extract {
namespace {

constexpr std::array<std::string_view, 4> kPageHeaders = {"object TPage", "object TTabPage",
                                                          "inherited TPage", "inherited TTabPage"};

bool IsPageHeader(std::string_view line) {
  for (std::string_view h : kPageHeaders)
    if (text::EqualsIgnoreCase(line, h)) return true;
  return false;
}

}  // namespace

HeaderKind IsObjectHeader(std::string_view line) {
  if (text::StartsWithIgnoreCase(line, "Object")) return HeaderKind::Object;
  if (text::StartsWithIgnoreCase(line, "inherited")) return HeaderKind::Inherited;
  return HeaderKind::None;
}

void TrackComponent(std::string_view line, ScannerContext& ctx) {
  const HeaderKind kind = IsObjectHeader(line);
  if (kind != HeaderKind::None) {
    ctx.page = false;
    const std::string upper = text::UpperAscii(line);
    // The name runs from the character after "object " / "inherited " up to
    // the first ":"; the word itself is ASCII, so the start is found by
    // counting characters.
    const std::size_t start_chars = kind == HeaderKind::Inherited ? 10 : 7;
    const std::size_t start = text::Left(upper, start_chars).size();
    const std::size_t colon = upper.find(':');
    std::string name;
    if (colon != std::string::npos && colon > start) name = upper.substr(start, colon - start);
    if (IsPageHeader(line)) {
      if (!ctx.component_stack.empty()) name = ctx.component_stack.back();
      ctx.page = true;
    }
    ctx.header_name = name;
    ctx.component_stack.push_back(std::move(name));
  } else if (text::EqualsIgnoreCase(line, "end") && !ctx.component_stack.empty()) {
    ctx.component_stack.pop_back();
  }
}

std::string ReadClassName(std::string_view line) {
  std::size_t p = line.find(": ");
  std::string_view rest = p == std::string_view::npos ? line : line.substr(p + 1);
  return std::string(text::Trim(rest));
}

bool IsCollectionProperty(std::string_view property, std::string_view value) {
  return value == "<" && IsCollectionName(property);
}

void Import(const ScanEnvironment& env, const std::vector<std::string>& lines,
            std::string program_code) {
  ScannerContext ctx(env, lines, std::move(program_code));
  ctx.first_line = true;
  ctx.line_index = 0;
  for (; ctx.line_index < lines.size() && !env.cancel; ++ctx.line_index) {
    ctx.current_line.assign(text::Trim(lines[ctx.line_index]));
    if (ctx.current_line == "Caption = ''") continue;

    PropertyLine prop = ReadPropertyLine(ctx.current_line, lines, ctx.line_index);
    ctx.property_name = std::move(prop.name);
    ctx.value = std::move(prop.value);

    if (ctx.current_line.find("object") != std::string::npos)
      ctx.class_name = ReadClassName(ctx.current_line);
    TrackComponent(ctx.current_line, ctx);
    if (ctx.first_line) {
      ctx.form_name = ctx.header_name;
      ctx.first_line = false;
    }
    if (shared::EmptyString(ctx.property_name)) continue;
    if (!ctx.component_stack.empty()) ctx.component_name = ctx.component_stack.back();
    if (text::EqualsIgnoreCase(ctx.component_name, "LBLCODTELA") ||
        text::EqualsIgnoreCase(ctx.component_name, "LBLCODREL"))
      continue;  // the labels showing a screen's or report's code

    if (IsSimpleTextProperty(ctx.component_name, ctx.property_name, ctx.value, env.dates)) {
      if (ctx.page) continue;
      CreateRecord(ctx, ctx.value,
                   RecordOptions{.number = 0,
                                 .stored = StoredNotice::Status,
                                 .empty = EmptyText::Record,
                                 .status = StatusText::WholeValue});
    } else {
      if (IsStringListProperty(ctx.property_name, ctx.header_name, ctx.value, env.dates))
        ReadStringList(ctx);
      if (IsCollectionProperty(ctx.property_name, ctx.value)) ReadCollection(ctx);
    }
  }
}

}  // namespace trd::extract
