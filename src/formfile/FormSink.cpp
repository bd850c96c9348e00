#include "FormSink.h"

#include <string>

namespace trd::form {

void TreeBuilder::BeginObject(ObjectKind kind, std::string_view class_name, std::string_view name,
                              std::optional<std::int32_t> position) {
  FormObject* o;
  if (frames_.empty()) {
    root_ = FormObject{};
    o = &root_;
  } else {
    o = &frames_.back().object->children.emplace_back();
  }
  o->kind = kind;
  o->class_name = class_name;
  o->name = name;
  o->position = position;
  frames_.push_back(Frame{o, nullptr, nullptr});
}

void TreeBuilder::EndObject() { frames_.pop_back(); }

void TreeBuilder::BeginProperty(std::string_view name) {
  Frame& f = frames_.back();
  std::vector<Property>& props = f.item ? f.item->properties : f.object->properties;
  Property& p = props.emplace_back();
  p.name = name;
  pending_ = &p.value;
}

Value& TreeBuilder::NewValue(ValueKind kind) {
  Value* v;
  if (!frames_.empty() && frames_.back().container) {
    v = &frames_.back().container->list.emplace_back();
  } else {
    v = pending_;
    pending_ = nullptr;
  }
  v->kind = kind;
  return *v;
}

void TreeBuilder::IntegerValue(ValueKind kind, std::int64_t v) { NewValue(kind).integer = v; }
void TreeBuilder::RealValue(ValueKind kind, long double v) { NewValue(kind).real = v; }
void TreeBuilder::StringValue(ValueKind kind, std::string_view utf8) { NewValue(kind).text = utf8; }
void TreeBuilder::IdentValue(ValueKind kind, std::string_view text) {
  Value& v = NewValue(kind);
  if (kind == ValueKind::Ident) v.text = text;
}
void TreeBuilder::BinaryValue(std::string_view bytes) { NewValue(ValueKind::Binary).text = bytes; }

void TreeBuilder::BeginSet() {
  Value& v = NewValue(ValueKind::Set);
  frames_.push_back(Frame{nullptr, nullptr, &v});
}
void TreeBuilder::SetElement(std::string_view name) {
  frames_.back().container->elements.emplace_back(name);
}
void TreeBuilder::EndSet() { frames_.pop_back(); }

void TreeBuilder::BeginList() {
  Value& v = NewValue(ValueKind::List);
  frames_.push_back(Frame{nullptr, nullptr, &v});
}
void TreeBuilder::EndList() { frames_.pop_back(); }

void TreeBuilder::BeginCollection() {
  Value& v = NewValue(ValueKind::Collection);
  // Items are not values: the frame holds no container so that a property
  // inside an item fills its pending slot.
  frames_.push_back(Frame{nullptr, nullptr, nullptr});
  collections_.push_back(&v);
}
void TreeBuilder::BeginItem(std::optional<ItemIndex> index) {
  CollectionItem& item = collections_.back()->items.emplace_back();
  item.index = index;
  frames_.push_back(Frame{nullptr, &item, nullptr});
}
void TreeBuilder::EndItem() { frames_.pop_back(); }
void TreeBuilder::EndCollection() {
  frames_.pop_back();
  collections_.pop_back();
}

namespace {

void WalkValue(const Value& v, FormSink& sink);

void WalkProperties(const std::vector<Property>& props, FormSink& sink) {
  for (const Property& p : props) {
    sink.BeginProperty(p.name);
    WalkValue(p.value, sink);
  }
}

void WalkValue(const Value& v, FormSink& sink) {
  switch (v.kind) {
    case ValueKind::Int8:
    case ValueKind::Int16:
    case ValueKind::Int32:
    case ValueKind::Int64:
    case ValueKind::Currency:
      sink.IntegerValue(v.kind, v.integer);
      break;
    case ValueKind::Extended:
    case ValueKind::Double:
    case ValueKind::Single:
    case ValueKind::Date:
      sink.RealValue(v.kind, v.real);
      break;
    case ValueKind::String:
    case ValueKind::LString:
    case ValueKind::WString:
    case ValueKind::Utf8String:
      sink.StringValue(v.kind, v.text);
      break;
    case ValueKind::Ident:
    case ValueKind::False:
    case ValueKind::True:
    case ValueKind::Nil:
    case ValueKind::Null:
      sink.IdentValue(v.kind, v.text);
      break;
    case ValueKind::Binary:
      sink.BinaryValue(v.text);
      break;
    case ValueKind::Set:
      sink.BeginSet();
      for (const std::string& e : v.elements) sink.SetElement(e);
      sink.EndSet();
      break;
    case ValueKind::List:
      sink.BeginList();
      for (const Value& e : v.list) WalkValue(e, sink);
      sink.EndList();
      break;
    case ValueKind::Collection:
      sink.BeginCollection();
      for (const CollectionItem& item : v.items) {
        sink.BeginItem(item.index);
        WalkProperties(item.properties, sink);
        sink.EndItem();
      }
      sink.EndCollection();
      break;
  }
}

void WalkObject(const FormObject& o, FormSink& sink) {
  sink.BeginObject(o.kind, o.class_name, o.name, o.position);
  WalkProperties(o.properties, sink);
  for (const FormObject& c : o.children) WalkObject(c, sink);
  sink.EndObject();
}

}  // namespace

void WalkTree(const FormObject& root, FormSink& sink) { WalkObject(root, sink); }

}  // namespace trd::form
