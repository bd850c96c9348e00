#include "ReportFile.h"

#include <cstdio>
#include <utility>

#include "formfile/FormBinary.h"
#include "formfile/FormText.h"
#include "platform/Errors.h"
#include "platform/Text.h"

namespace trd::report {
namespace {

[[noreturn]] void Fail(std::string_view file_name, std::string_view what) {
  throw FormatError(std::string(file_name) + ": " + std::string(what));
}

std::string Hex16(std::uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", unsigned(v));
  return buf;
}

enum class ObjectRole { Report, Element };

// "TQRLabel lblTitulo", "unnamed TQRMemo", "the report (TDesignQuickReport)"
std::string Describe(const form::FormObject& o, ObjectRole role) {
  if (role == ObjectRole::Report) return "the report (" + o.class_name + ")";
  if (o.name.empty()) return "unnamed " + o.class_name;
  return o.class_name + " " + o.name;
}

// The last property of that name (a later one overrides an earlier one when
// a report is loaded); names compare ignoring ASCII case.
const form::Property* FindProperty(const form::FormObject& o, std::string_view name) {
  const form::Property* found = nullptr;
  for (const auto& p : o.properties)
    if (text::EqualsIgnoreCase(p.name, name)) found = &p;
  return found;
}

std::string KindText(const form::Value& v) {
  using form::ValueKind;
  if (IsIntegerKind(v.kind) || IsRealKind(v.kind) || v.kind == ValueKind::Currency)
    return "a number";
  if (IsIdentKind(v.kind))
    return "the identifier " + (v.text.empty() ? std::string(KeywordText(v.kind)) : v.text);
  switch (v.kind) {
    case ValueKind::List:
      return "a list";
    case ValueKind::Set:
      return "a set";
    case ValueKind::Binary:
      return "binary data";
    case ValueKind::Collection:
      return "a collection";
    default:
      return "a string";
  }
}

// The texts that an object of class `cls` keeps, checked for shape.
std::vector<std::string> TextsOf(const form::FormObject& o, const ElementClass& cls,
                                 std::string_view file_name, ObjectRole role) {
  const form::Property* p = FindProperty(o, cls.text_property);
  std::vector<std::string> texts;
  auto bad = [&](std::string_view what) {
    Fail(file_name,
         Describe(o, role) + ": " + std::string(cls.text_property) + " " + std::string(what));
  };
  if (cls.shape == TextShape::Single) {
    if (!p) return {std::string()};
    if (!IsStringKind(p->value.kind)) bad("must be a string, found " + KindText(p->value));
    return {p->value.text};
  }
  if (!p) return texts;
  if (p->value.kind != form::ValueKind::List)
    bad("must be a list of strings, found " + KindText(p->value));
  for (std::size_t i = 0; i < p->value.list.size(); ++i) {
    const form::Value& line = p->value.list[i];
    if (!IsStringKind(line.kind))
      bad("line " + std::to_string(i) + " must be a string, found " + KindText(line));
    texts.push_back(line.text);
  }
  return texts;
}

void RequireReportRoot(const form::FormObject& root, std::string_view file_name) {
  if (Classify(root.class_name) != ElementKind::DesignReport)
    Fail(file_name, "the root object is of class " + root.class_name + ", expected " +
                        std::string(ClassOf(ElementKind::DesignReport)->class_name) +
                        " or a class derived from it");
}

}  // namespace

std::optional<std::uint16_t> ReadSignature(std::string_view bytes) {
  if (bytes.size() < kSignatureSize) return std::nullopt;
  return std::uint16_t(std::uint8_t(bytes[0]) | (std::uint16_t(std::uint8_t(bytes[1])) << 8));
}

form::FormObject ReadReportTree(std::string_view bytes, std::string_view file_name,
                                SignatureCheck check) {
  std::optional<std::uint16_t> id = ReadSignature(bytes);
  if (!id)
    Fail(file_name,
         "offset 0: " + std::to_string(bytes.size()) + " byte(s) are too few for a report file");
  if (check == SignatureCheck::Check && *id != kReportFileID)
    Fail(file_name, "offset 0: signature " + Hex16(*id) + " is not the report signature " +
                        Hex16(kReportFileID));
  std::size_t consumed = 0;
  form::FormObject root =
      form::ReadComponentStream(bytes.substr(kSignatureSize), file_name, kSignatureSize, &consumed);
  std::size_t end = kSignatureSize + consumed;
  if (end < bytes.size())
    Fail(file_name, "offset " + std::to_string(end) + ": " + std::to_string(bytes.size() - end) +
                        " byte(s) after the end of the report");
  RequireReportRoot(root, file_name);
  return root;
}

ReportContent ContentOf(const form::FormObject& root, std::string_view file_name) {
  RequireReportRoot(root, file_name);
  ReportContent content;
  const ElementClass& report = *ClassOf(ElementKind::DesignReport);
  content.title = TextsOf(root, report, file_name, ObjectRole::Report).front();

  // Depth first in file order, without recursion (nesting is not bounded by
  // every reader). The stack holds the objects still to visit, last on top.
  std::vector<const form::FormObject*> pending;
  for (auto it = root.children.rbegin(); it != root.children.rend(); ++it) pending.push_back(&*it);
  while (!pending.empty()) {
    const form::FormObject& o = *pending.back();
    pending.pop_back();
    ReportElement e;
    e.kind = Classify(o.class_name);
    e.name = o.name;
    e.class_name = o.class_name;
    if (const ElementClass* cls = ClassOf(e.kind))
      e.texts = TextsOf(o, *cls, file_name, ObjectRole::Element);
    content.elements.push_back(std::move(e));
    for (auto it = o.children.rbegin(); it != o.children.rend(); ++it) pending.push_back(&*it);
  }
  return content;
}

std::vector<std::string> ReportToText(std::string_view bytes, std::string_view file_name) {
  form::FormObject root = ReadReportTree(bytes, file_name, SignatureCheck::Check);
  ContentOf(root, file_name);
  return form::FormToText(root);
}

}  // namespace trd::report
