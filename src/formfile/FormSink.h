// Event interface between the readers and the writers of component streams.
//
// A reader (binary stream, form text, object tree) calls a sink in document
// order; a writer (binary stream, form text, object tree) is a sink. This lets
// a binary file be turned into form text without building the tree first.
//
// Event grammar (a reader must keep to it; a sink may rely on it):
//   object   := BeginObject property* object* EndObject
//   property := BeginProperty value
//   value    := IntegerValue | RealValue | StringValue | IdentValue
//             | BinaryValue | BeginSet SetElement* EndSet
//             | BeginList value* EndList
//             | BeginCollection (BeginItem property* EndItem)* EndCollection
// The views passed to a sink are valid only during the call.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "FormObject.h"

namespace trd::form {

class FormSink {
 public:
  virtual ~FormSink() = default;

  virtual void BeginObject(ObjectKind kind, std::string_view class_name, std::string_view name,
                           std::optional<std::int32_t> position) = 0;
  virtual void EndObject() = 0;
  virtual void BeginProperty(std::string_view name) = 0;

  // Int8..Int64 and Currency (the amount times 10000).
  virtual void IntegerValue(ValueKind kind, std::int64_t v) = 0;
  // Extended, Double, Single, Date.
  virtual void RealValue(ValueKind kind, long double v) = 0;
  // String kinds; the text is UTF-8.
  virtual void StringValue(ValueKind kind, std::string_view utf8) = 0;
  // Ident (text = the identifier) and False/True/Nil/Null (text ignored).
  virtual void IdentValue(ValueKind kind, std::string_view text) = 0;
  virtual void BinaryValue(std::string_view bytes) = 0;
  virtual void BeginSet() = 0;
  virtual void SetElement(std::string_view name) = 0;
  virtual void EndSet() = 0;
  virtual void BeginList() = 0;
  virtual void EndList() = 0;
  virtual void BeginCollection() = 0;
  virtual void BeginItem(std::optional<ItemIndex> index) = 0;
  virtual void EndItem() = 0;
  virtual void EndCollection() = 0;
};

// Builds an object tree from events. Take() gives the root once the root's
// EndObject has arrived.
class TreeBuilder final : public FormSink {
 public:
  void BeginObject(ObjectKind kind, std::string_view class_name, std::string_view name,
                   std::optional<std::int32_t> position) override;
  void EndObject() override;
  void BeginProperty(std::string_view name) override;
  void IntegerValue(ValueKind kind, std::int64_t v) override;
  void RealValue(ValueKind kind, long double v) override;
  void StringValue(ValueKind kind, std::string_view utf8) override;
  void IdentValue(ValueKind kind, std::string_view text) override;
  void BinaryValue(std::string_view bytes) override;
  void BeginSet() override;
  void SetElement(std::string_view name) override;
  void EndSet() override;
  void BeginList() override;
  void EndList() override;
  void BeginCollection() override;
  void BeginItem(std::optional<ItemIndex> index) override;
  void EndItem() override;
  void EndCollection() override;

  FormObject Take() { return std::move(root_); }

 private:
  // Where the next value or property goes. Pointers stay valid because only
  // the innermost open container ever grows.
  struct Frame {
    FormObject* object = nullptr;    // object: properties / children
    CollectionItem* item = nullptr;  // collection item: properties
    Value* container = nullptr;      // list, set or collection value
  };
  Value& NewValue(ValueKind kind);

  FormObject root_;
  std::vector<Frame> frames_;
  std::vector<Value*> collections_;  // open collections, innermost last
  Value* pending_ = nullptr;         // value slot of the property just begun
};

// Replays a tree as events.
void WalkTree(const FormObject& root, FormSink& sink);

}  // namespace trd::form
