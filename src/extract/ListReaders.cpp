// The readers of string lists and collections. Both share the scanner's
// context, advance its line index over the lines they consume and never touch
// the component stack or the class name.
#include <algorithm>
#include <string>
#include <vector>

#include "FormScanner.h"
#include "PropertyValues.h"
#include "RecordCreation.h"
#include "platform/Errors.h"
#include "platform/Text.h"
#include "shared/Services.h"

namespace trd::extract {
namespace {

bool EndsWithJoin(std::string_view s) { return s.size() >= 2 && s.substr(s.size() - 2) == " +"; }

// One string-list entry as written: its lines joined (each without the " +"
// that continues it) and where each line's piece starts in the joined text.
struct Entry {
  std::string joined;
  std::vector<std::size_t> starts;
};

// Reads the entry starting at the line index and leaves the index on its last
// line. An entry announced to continue past the last line is a FormatError.
Entry ReadEntry(ScannerContext& ctx, std::string_view first) {
  Entry e;
  e.joined.assign(first);
  e.starts.push_back(0);
  const std::size_t entry_line = ctx.line_index;
  while (EndsWithJoin(e.joined)) {
    if (ctx.line_index + 1 >= ctx.lines.size()) {
      throw FormatError("line " + std::to_string(entry_line + 1) + ": an entry of '" +
                        ctx.property_name + "' continues past the last line");
    }
    e.joined.resize(e.joined.size() - 2);
    for (std::size_t& s : e.starts)
      if (s > e.joined.size()) s = e.joined.size();
    e.starts.push_back(e.joined.size());
    ++ctx.line_index;
    e.joined.append(text::Trim(ctx.lines[ctx.line_index]));
  }
  return e;
}

// The entry's text: the pieces decoded one by one (the closing ")" of the
// list removed first), then the key split: the part after the first "|", or
// after the first "=" in the runtime messages; the whole text without one.
std::string EntryText(const Entry& e, std::string_view property) {
  std::string_view s = e.joined;
  if (!s.empty() && s.back() == ')') s.remove_suffix(1);
  StringDecoder decoder;
  for (std::size_t k = 0; k < e.starts.size(); ++k) {
    std::size_t b = std::min(e.starts[k], s.size());
    std::size_t end = k + 1 < e.starts.size() ? std::min(e.starts[k + 1], s.size()) : s.size();
    decoder.Add(s.substr(b, end - b));
  }
  std::string decoded = decoder.Take();
  const char separator = property == "RuntimeMessages.Strings" ? '=' : '|';
  std::size_t p = decoded.find(separator);
  return p == std::string::npos ? decoded : decoded.substr(p + 1);
}

}  // namespace

void ReadStringList(ScannerContext& ctx) {
  ctx.value.clear();
  int item = 0;
  while ((ctx.current_line.empty() || ctx.current_line.back() != ')') && !ctx.env.cancel) {
    if (ctx.line_index + 1 >= ctx.lines.size()) return;  // list never closed: stop at the last line
    ++ctx.line_index;
    std::string_view t = text::Trim(ctx.lines[ctx.line_index]);
    if (t.empty()) continue;  // an empty line takes no number
    Entry entry = ReadEntry(ctx, t);
    ctx.current_line = entry.joined;
    ctx.value = EntryText(entry, ctx.property_name);
    CreateRecord(ctx, ctx.value,
                 RecordOptions{.number = item,
                               .stored = StoredNotice::Silent,
                               .empty = EmptyText::Skip,
                               .status = StatusText::First30Characters});
    ++item;  // numbered by position, whether or not the entry gave a record
  }
}

void ReadCollection(ScannerContext& ctx) {
  const std::string collection = ctx.property_name;
  // The owner of the items: the innermost open object; after unbalanced
  // "end" lines the stack may be empty, and then the component the scanner
  // last knew stands in for it.
  const std::string fallback_owner = ctx.component_name;
  int counter = -1;
  while (!text::EqualsIgnoreCase(ctx.current_line, "end>") && !ctx.env.cancel) {
    if (ctx.current_line.find("item") != std::string::npos) ++counter;
    if (ctx.line_index + 1 >= ctx.lines.size()) return;  // never closed: stop at the last line
    ++ctx.line_index;
    ctx.current_line.assign(text::Trim(ctx.lines[ctx.line_index]));

    PropertyLine prop = ReadPropertyLine(ctx.current_line, ctx.lines, ctx.line_index);
    ctx.property_name = std::move(prop.name);
    ctx.value = std::move(prop.value);
    if (shared::EmptyString(ctx.property_name)) continue;  // "item", "end" and the like

    const std::string& owner =
        ctx.component_stack.empty() ? fallback_owner : ctx.component_stack.back();
    ctx.component_name = owner + "." + std::to_string(counter);

    if (IsSimpleTextProperty(ctx.component_name, ctx.property_name, ctx.value, ctx.env.dates)) {
      ctx.property_name = collection + "." + ctx.property_name;
      CreateRecord(ctx, ctx.value,
                   RecordOptions{.number = 0,
                                 .stored = StoredNotice::Silent,
                                 .empty = EmptyText::Record,
                                 .status = StatusText::WholeValue});
    } else if (IsStringListProperty(ctx.property_name, ctx.header_name, ctx.value, ctx.env.dates)) {
      ReadStringList(ctx);
    }
  }
}

}  // namespace trd::extract
