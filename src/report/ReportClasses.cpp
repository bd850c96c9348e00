#include "ReportClasses.h"

#include <array>

#include "platform/Text.h"

namespace trd::report {
namespace {

constexpr std::array<ElementClass, 6> kTaken = {{
    {ElementKind::DesignReport, "TDesignQuickReport", "ReportTitle", TextShape::Single,
     "TDesignQuickReport"},
    {ElementKind::Label, "TQRLabel", "Caption", TextShape::Single, "TQRLabel"},
    {ElementKind::SysData, "TQRSysData", "Text", TextShape::Single, "TQRSysData"},
    {ElementKind::Memo, "TQRMemo", "Lines.Strings", TextShape::Lines, "TQRMemo"},
    {ElementKind::RichText, "TQRRichText", "Lines.Strings", TextShape::Lines, "TQRRichText"},
    {ElementKind::Expression, "TQRDesignExpr", "Messages.Strings", TextShape::Lines,
     "TQRDesignExpr.Messages"},
}};

// The designer's own variants of the printing classes: they keep their
// texts where their bases do.
constexpr std::array<DerivedClass, 4> kDerived = {{
    {"TQRDesignLabel", "TQRLabel"},
    {"TQRDesignSysData", "TQRSysData"},
    {"TQRDesignMemo", "TQRMemo"},
    {"TQRDesignRichText", "TQRRichText"},
}};

// The direct base of a known derived class; empty when it is not one.
std::string_view BaseOf(std::string_view class_name) {
  for (const auto& d : kDerived)
    if (text::EqualsIgnoreCase(d.class_name, class_name)) return d.base;
  return {};
}

bool IsOrDerives(std::string_view class_name, std::string_view tested) {
  // Each step climbs one level; more steps than entries would mean a cycle.
  for (std::size_t step = 0; step <= kDerived.size() && !class_name.empty(); ++step) {
    if (text::EqualsIgnoreCase(class_name, tested)) return true;
    class_name = BaseOf(class_name);
  }
  return false;
}

}  // namespace

std::span<const ElementClass> TakenClasses() { return kTaken; }

std::span<const DerivedClass> KnownDerivedClasses() { return kDerived; }

const ElementClass* ClassOf(ElementKind kind) {
  for (const auto& c : kTaken)
    if (c.kind == kind) return &c;
  return nullptr;
}

ElementKind Classify(std::string_view class_name) {
  for (const auto& c : kTaken)
    if (IsOrDerives(class_name, c.class_name)) return c.kind;
  return ElementKind::Other;
}

}  // namespace trd::report
