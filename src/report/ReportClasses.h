// The report element classes: which classes of a report file hold texts,
// where each keeps them, and under which property name their records are
// stored. This is the only place that knows the class names.
//
// Six classes are taken, tested in this order:
//
//   class               kind         texts in the file      recorded as
//   TDesignQuickReport  DesignReport ReportTitle (one)      TDesignQuickReport
//   TQRLabel            Label        Caption (one)          TQRLabel
//   TQRSysData          SysData      Text (one)             TQRSysData
//   TQRMemo             Memo         Lines.Strings (lines)  TQRMemo
//   TQRRichText         RichText     Lines.Strings (lines)  TQRRichText
//   TQRDesignExpr       Expression   Messages.Strings       TQRDesignExpr.Messages
//
// A class "is" one of them when it is that class or derives from it through
// the table of known derived classes (ReportClasses.cpp). Class names are
// compared ignoring ASCII case. Every other class (bands, shapes, images,
// data-bound fields) holds no text for translation.
#pragma once

#include <span>
#include <string_view>

namespace trd::report {

enum class ElementKind { DesignReport, Label, SysData, Memo, RichText, Expression, Other };

// How an element keeps its texts in the file.
enum class TextShape {
  Single,  // one string property; absent means the empty text
  Lines,   // a list of strings; absent means no lines
};

struct ElementClass {
  ElementKind kind;
  std::string_view class_name;     // the class tested
  std::string_view text_property;  // property path in the report file
  TextShape shape;
  std::string_view recorded_property;  // NMPROPRIEDADE of its records
};

// The six taken classes, in the order they are tested.
std::span<const ElementClass> TakenClasses();

// The entry of a kind; nullptr for Other.
const ElementClass* ClassOf(ElementKind kind);

// The kind of the first taken class that `class_name` is or derives from;
// Other when it is none of them.
ElementKind Classify(std::string_view class_name);

// A known derived class and the class it derives from directly.
struct DerivedClass {
  std::string_view class_name;
  std::string_view base;
};
std::span<const DerivedClass> KnownDerivedClasses();

}  // namespace trd::report
