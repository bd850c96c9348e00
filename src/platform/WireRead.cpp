#include "WireRead.h"

#include <cstdint>
#include <utility>

#include <nlohmann/json.hpp>

namespace trd::wire {
namespace {
using json = nlohmann::json;

enum class Message : std::uint8_t { Request, Response };

// What the next parse event must be. The messages' shapes are shallow and
// fixed (a packet's cells are field values, never tagged values), so one
// position is the whole state: no stack.
enum class At : std::uint8_t {
  Start,        // the message's object
  TopKey,       // one of the message's members, or its end
  Module,       // text
  Method,       // text
  ArgsStart,    // the arguments' array
  Arg,          // an argument, or the arguments' end
  Result,       // the response's value
  Tag,          // the only member of a tagged value
  TagFloat,     // a number
  TagDateTime,  // an ISO 8601 text
  TagFailure,   // text
  TagPacket,    // the packet's object
  TagEnd,       // the tagged value's end
  PacketKey,    // "fields", "rows", or the packet's end
  FieldsStart,  // the definitions' array
  Field,        // a definition, or the definitions' end
  FieldName,
  FieldType,
  FieldSize,
  FieldEnd,
  RowsStart,  // the rows' array
  Row,        // a row, or the rows' end
  Cell,       // a row's next value, or the row's end
  Done,
};

// A SAX handler for nlohmann::json. Every event it does not expect returns
// false, which stops the parse: the caller then takes the document path.
class Reader {
 public:
  using number_integer_t = json::number_integer_t;
  using number_unsigned_t = json::number_unsigned_t;
  using number_float_t = json::number_float_t;
  using string_t = json::string_t;
  using binary_t = json::binary_t;

  explicit Reader(Message m) : message_(m) {}

  bool Finished() const { return at_ == At::Done; }
  Request TakeRequest() { return std::move(request_); }
  Value TakeResult() { return std::move(result_); }

  bool null() {
    if (at_ == At::Arg || at_ == At::Result) return Deliver(std::monostate{});
    if (at_ == At::Cell) return NextField() && PutCell(FieldValue{});
    return false;
  }

  bool boolean(bool b) { return (at_ == At::Arg || at_ == At::Result) && Deliver(b); }

  bool number_integer(number_integer_t n) {
    switch (at_) {
      case At::Arg:
      case At::Result: return Deliver(std::int64_t{n});
      case At::FieldSize: return SetSize(n >= 0 && n <= kMaxFieldSize, n);
      default: return Number(double(n));
    }
  }

  bool number_unsigned(number_unsigned_t n) {
    switch (at_) {
      case At::Arg:
      case At::Result: return n <= std::uint64_t(INT64_MAX) && Deliver(std::int64_t(n));
      case At::FieldSize: return SetSize(n <= std::uint64_t(kMaxFieldSize), std::int64_t(n));
      default: return Number(double(n));
    }
  }

  bool number_float(number_float_t d, const string_t&) {
    if (at_ == At::Arg || at_ == At::Result) return Deliver(double{d});
    return at_ != At::FieldSize && Number(d);
  }

  bool string(string_t& s) {
    switch (at_) {
      case At::Arg:
      case At::Result: return Deliver(std::move(s));
      case At::Module: request_.module = std::move(s); at_ = At::TopKey; return true;
      case At::Method: request_.method = std::move(s); at_ = At::TopKey; return true;
      case At::TagDateTime: {
        auto dt = DateTime::FromIso(s);
        if (!dt) return false;
        pending_ = *dt;
        at_ = At::TagEnd;
        return true;
      }
      case At::TagFailure: pending_ = ServerFailure{std::move(s)}; at_ = At::TagEnd; return true;
      case At::FieldName: field_.name = std::move(s); at_ = At::FieldType; return true;
      case At::FieldType:
        if (s == "string") field_.type = FieldType::String;
        else if (s == "float") field_.type = FieldType::Float;
        else if (s == "datetime") field_.type = FieldType::DateTime;
        else return false;
        at_ = At::FieldSize;
        return true;
      case At::Cell: {
        const FieldDef* f = NextField();
        if (!f) return false;
        if (f->type == FieldType::String) return PutCell(std::move(s));
        if (f->type != FieldType::DateTime) return false;
        auto dt = DateTime::FromIso(s);
        return dt && PutCell(*dt);
      }
      default: return false;
    }
  }

  bool binary(binary_t&) { return false; }

  bool start_object(std::size_t) {
    switch (at_) {
      case At::Start: at_ = At::TopKey; return true;
      case At::Arg:
      case At::Result: at_ = At::Tag; return true;
      case At::TagPacket:
        packet_ = Packet{};
        seen_fields_ = seen_rows_ = false;
        at_ = At::PacketKey;
        return true;
      default: return false;
    }
  }

  bool key(string_t& k) {
    switch (at_) {
      case At::TopKey: return TopKey(k);
      case At::Tag:
        if (k == "float") at_ = At::TagFloat;
        else if (k == "datetime") at_ = At::TagDateTime;
        else if (k == "failure") at_ = At::TagFailure;
        else if (k == "packet") at_ = At::TagPacket;
        else return false;  // a change set lists its changes before its fields
        return true;
      case At::PacketKey:
        if (k == "fields" && !seen_fields_) {
          seen_fields_ = true;
          at_ = At::FieldsStart;
          return true;
        }
        if (k == "rows" && seen_fields_ && !seen_rows_) {
          seen_rows_ = true;
          at_ = At::RowsStart;
          return true;
        }
        return false;
      default: return false;
    }
  }

  bool end_object() {
    switch (at_) {
      case At::TopKey:
        if (message_ == Message::Request ? !(seen_module_ && seen_method_ && seen_args_) : !seen_result_)
          return false;
        at_ = At::Done;
        return true;
      case At::TagEnd: return Deliver(std::move(pending_));
      case At::PacketKey:
        if (!seen_fields_ || !seen_rows_) return false;
        pending_ = std::move(packet_);
        at_ = At::TagEnd;
        return true;
      default: return false;
    }
  }

  bool start_array(std::size_t) {
    switch (at_) {
      case At::ArgsStart: at_ = At::Arg; return true;
      case At::FieldsStart: at_ = At::Field; return true;
      case At::Field:
        if (packet_.fields.size() >= kMaxFields) return false;
        field_ = FieldDef{};
        at_ = At::FieldName;
        return true;
      case At::RowsStart: at_ = At::Row; return true;
      case At::Row:
        row_ = trd::Row{};
        row_.reserve(packet_.fields.size());
        at_ = At::Cell;
        return true;
      default: return false;
    }
  }

  bool end_array() {
    switch (at_) {
      case At::Arg: at_ = At::TopKey; return true;
      case At::Field: at_ = At::PacketKey; return true;
      case At::FieldEnd: packet_.fields.push_back(std::move(field_)); at_ = At::Field; return true;
      case At::Row: at_ = At::PacketKey; return true;
      case At::Cell:
        if (row_.size() != packet_.fields.size()) return false;
        packet_.rows.push_back(std::move(row_));
        at_ = At::Row;
        return true;
      default: return false;
    }
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

 private:
  bool TopKey(const string_t& k) {
    if (message_ == Message::Response) {
      if (k != "result" || seen_result_) return false;
      seen_result_ = true;
      at_ = At::Result;
      return true;
    }
    if (k == "module" && !seen_module_) {
      seen_module_ = true;
      at_ = At::Module;
    } else if (k == "method" && !seen_method_) {
      seen_method_ = true;
      at_ = At::Method;
    } else if (k == "args" && !seen_args_) {
      seen_args_ = true;
      at_ = At::ArgsStart;
    } else {
      return false;
    }
    return true;
  }

  // A complete value: an argument, or the response's result.
  bool Deliver(Value v) {
    if (message_ == Message::Response) {
      result_ = std::move(v);
      at_ = At::TopKey;
      return true;
    }
    if (request_.args.size() >= kMaxArguments) return false;
    request_.args.push_back(std::move(v));
    at_ = At::Arg;
    return true;
  }

  // A number where no integer is wanted: a float tag's, or a float field's.
  bool Number(double d) {
    if (at_ == At::TagFloat) {
      pending_ = d;
      at_ = At::TagEnd;
      return true;
    }
    if (at_ != At::Cell) return false;
    const FieldDef* f = NextField();
    return f && f->type == FieldType::Float && PutCell(d);
  }

  bool SetSize(bool in_range, std::int64_t n) {
    if (!in_range) return false;
    field_.size = int(n);
    at_ = At::FieldEnd;
    return true;
  }

  // The field the row's next value is for; null when the row is full.
  const FieldDef* NextField() const {
    return row_.size() < packet_.fields.size() ? &packet_.fields[row_.size()] : nullptr;
  }

  bool PutCell(FieldValue v) {
    row_.push_back(std::move(v));
    return true;
  }

  Message message_;
  At at_ = At::Start;
  bool seen_module_ = false, seen_method_ = false, seen_args_ = false, seen_result_ = false;
  bool seen_fields_ = false, seen_rows_ = false;
  Request request_;
  Value result_;
  Value pending_;  // a tagged value, until its object ends
  Packet packet_;
  FieldDef field_;
  trd::Row row_;
};

}  // namespace

std::optional<Request> ReadRequest(std::string_view body) {
  Reader r(Message::Request);
  if (!json::sax_parse(body, &r) || !r.Finished()) return std::nullopt;
  return r.TakeRequest();
}

std::optional<Value> ReadResult(std::string_view body) {
  Reader r(Message::Response);
  if (!json::sax_parse(body, &r) || !r.Finished()) return std::nullopt;
  return r.TakeResult();
}

}  // namespace trd::wire
