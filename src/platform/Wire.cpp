#include "Wire.h"

#include <nlohmann/json.hpp>

#include "Errors.h"
#include "WireRead.h"
#include "WireWrite.h"

namespace trd::wire {
using json = nlohmann::json;

namespace {

[[noreturn]] void Bad(const std::string& what) { throw ProtocolError("malformed message: " + what); }

const json& Member(const json& j, const char* key, const char* where) {
  if (!j.is_object()) Bad(std::string(where) + " is not an object");
  auto it = j.find(key);
  if (it == j.end()) Bad(std::string(where) + " has no \"" + key + "\"");
  return *it;
}

FieldType TypeFromName(const std::string& s) {
  if (s == "string") return FieldType::String;
  if (s == "float") return FieldType::Float;
  if (s == "datetime") return FieldType::DateTime;
  Bad("unknown field type \"" + s + "\"");
}

json FieldsToJson(const std::vector<FieldDef>& fields) {
  json a = json::array();
  for (const auto& f : fields) a.push_back(json::array({f.name, TypeName(f.type), f.size}));
  return a;
}

std::vector<FieldDef> FieldsFromJson(const json& j) {
  if (!j.is_array()) Bad("\"fields\" is not an array");
  if (j.size() > kMaxFields)
    Bad(std::to_string(j.size()) + " field definitions; at most " + std::to_string(kMaxFields) + " are accepted");
  std::vector<FieldDef> out;
  out.reserve(j.size());
  for (const auto& f : j) {
    if (!f.is_array() || f.size() != 3 || !f[0].is_string() || !f[1].is_string() ||
        !f[2].is_number_integer())
      Bad("a field definition is not [name, type, size]");
    // Read wide: a narrowing read would wrap a huge size into a plausible one.
    std::int64_t size = f[2].is_number_unsigned() && f[2].get<std::uint64_t>() > std::uint64_t(kMaxFieldSize)
                            ? -1
                            : f[2].get<std::int64_t>();
    if (size < 0 || size > kMaxFieldSize) Bad("a field size is out of range");
    out.push_back(
        FieldDef{f[0].get<std::string>(), TypeFromName(f[1].get<std::string>()), int(size)});
  }
  return out;
}

json RowToJson(const std::vector<FieldDef>& fields, const Row& row) {
  json a = json::array();
  for (const auto& v : row) {
    if (std::holds_alternative<std::monostate>(v)) a.push_back(nullptr);
    else if (auto s = std::get_if<std::string>(&v)) a.push_back(*s);
    else if (auto d = std::get_if<double>(&v)) a.push_back(*d);
    else a.push_back(std::get<DateTime>(v).ToIso());
  }
  return a;
}

Row RowFromJson(const std::vector<FieldDef>& fields, const json& j) {
  if (!j.is_array() || j.size() != fields.size()) Bad("a row does not have one value per field");
  Row row;
  row.reserve(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const json& v = j[i];
    if (v.is_null()) {
      row.emplace_back(std::monostate{});
      continue;
    }
    switch (fields[i].type) {
      case FieldType::String:
        if (!v.is_string()) Bad("field " + fields[i].name + " is not text");
        row.emplace_back(v.get<std::string>());
        break;
      case FieldType::Float:
        if (!v.is_number()) Bad("field " + fields[i].name + " is not a number");
        row.emplace_back(v.get<double>());
        break;
      case FieldType::DateTime: {
        if (!v.is_string()) Bad("field " + fields[i].name + " is not a date-time");
        auto dt = DateTime::FromIso(v.get<std::string>());
        if (!dt) Bad("field " + fields[i].name + " is not a date-time");
        row.emplace_back(*dt);
        break;
      }
    }
  }
  return row;
}

}  // namespace

json PacketToJson(const Packet& p) {
  json rows = json::array();
  for (const auto& r : p.rows) rows.push_back(RowToJson(p.fields, r));
  return json{{"fields", FieldsToJson(p.fields)}, {"rows", std::move(rows)}};
}

Packet PacketFromJson(const json& j) {
  Packet p;
  p.fields = FieldsFromJson(Member(j, "fields", "packet"));
  const json& rows = Member(j, "rows", "packet");
  if (!rows.is_array()) Bad("\"rows\" is not an array");
  p.rows.reserve(rows.size());
  for (const auto& r : rows) p.rows.push_back(RowFromJson(p.fields, r));
  return p;
}

json ChangeSetToJson(const ChangeSet& c) {
  json changes = json::array();
  for (const auto& ch : c.changes) {
    json o{{"kind", ChangeKindName(ch.kind)}};
    if (ch.kind != ChangeKind::Insert) o["old"] = RowToJson(c.fields, ch.before);
    if (ch.kind != ChangeKind::Delete) o["new"] = RowToJson(c.fields, ch.after);
    changes.push_back(std::move(o));
  }
  return json{{"fields", FieldsToJson(c.fields)}, {"changes", std::move(changes)}};
}

ChangeSet ChangeSetFromJson(const json& j) {
  ChangeSet c;
  c.fields = FieldsFromJson(Member(j, "fields", "change set"));
  const json& changes = Member(j, "changes", "change set");
  if (!changes.is_array()) Bad("\"changes\" is not an array");
  for (const auto& o : changes) {
    const json& k = Member(o, "kind", "change");
    if (!k.is_string()) Bad("a change kind is not text");
    Change ch;
    std::string kind = k.get<std::string>();
    bool known = false;
    for (ChangeKind candidate : {ChangeKind::Insert, ChangeKind::Modify, ChangeKind::Delete}) {
      if (kind != ChangeKindName(candidate)) continue;
      ch.kind = candidate;
      known = true;
    }
    if (!known) Bad("unknown change kind \"" + kind + "\"");
    if (ch.kind != ChangeKind::Insert) ch.before = RowFromJson(c.fields, Member(o, "old", "change"));
    if (ch.kind != ChangeKind::Delete) ch.after = RowFromJson(c.fields, Member(o, "new", "change"));
    c.changes.push_back(std::move(ch));
  }
  return c;
}

json ToJson(const Value& v) {
  return std::visit(
      [](const auto& x) -> json {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) return nullptr;
        else if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::int64_t> ||
                           std::is_same_v<T, std::string>)
          return x;
        else if constexpr (std::is_same_v<T, double>) return json{{"float", x}};
        else if constexpr (std::is_same_v<T, DateTime>) return json{{"datetime", x.ToIso()}};
        else if constexpr (std::is_same_v<T, Packet>) return json{{"packet", PacketToJson(x)}};
        else if constexpr (std::is_same_v<T, ChangeSet>) return json{{"delta", ChangeSetToJson(x)}};
        else return json{{"failure", x.message}};
      },
      v);
}

Value FromJson(const json& j) {
  switch (j.type()) {
    case json::value_t::null: return std::monostate{};
    case json::value_t::boolean: return j.get<bool>();
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
      if (j.is_number_unsigned() && j.get<std::uint64_t>() > std::uint64_t(INT64_MAX))
        Bad("integer out of range");
      return j.get<std::int64_t>();
    case json::value_t::number_float: return j.get<double>();
    case json::value_t::string: return j.get<std::string>();
    case json::value_t::object: {
      if (j.size() != 1) Bad("a tagged value must have exactly one member");
      auto it = j.begin();
      const std::string& tag = it.key();
      if (tag == "float") {
        if (!it->is_number()) Bad("\"float\" is not a number");
        return it->get<double>();
      }
      if (tag == "datetime") {
        if (!it->is_string()) Bad("\"datetime\" is not text");
        auto dt = DateTime::FromIso(it->get<std::string>());
        if (!dt) Bad("\"datetime\" is not an ISO 8601 date-time");
        return *dt;
      }
      if (tag == "packet") return PacketFromJson(*it);
      if (tag == "delta") return ChangeSetFromJson(*it);
      if (tag == "failure") {
        if (!it->is_string()) Bad("\"failure\" is not text");
        return ServerFailure{it->get<std::string>()};
      }
      Bad("unknown value tag \"" + tag + "\"");
    }
    default: Bad("unsupported JSON value");
  }
}

std::string EncodeRequest(const Request& r) {
  std::string out;
  out.reserve(64 + r.module.size() + r.method.size() + 32 * r.args.size());
  EncodeRequestInto(r, out);
  return out;
}

void EncodeRequestInto(const Request& r, std::string& out) {
  out.clear();
  out += "{\"args\":[";
  for (std::size_t i = 0; i < r.args.size(); ++i) {
    if (i) out += ',';
    AppendJsonValue(out, r.args[i]);
  }
  out += "],\"method\":";
  AppendJsonString(out, r.method);
  out += ",\"module\":";
  AppendJsonString(out, r.module);
  out += '}';
}

std::size_t EncodedRequestSize(const Request& r) {
  // The text of EncodeRequest: {"args":[ a,b ],"method": m ,"module": m }
  std::size_t n = std::string_view("{\"args\":[],\"method\":,\"module\":}").size();
  for (std::size_t i = 0; i < r.args.size(); ++i) n += (i ? 1 : 0) + JsonValueSize(r.args[i]);
  return n + JsonStringSize(r.method) + JsonStringSize(r.module);
}

Request DecodeRequest(std::string_view body) {
  if (auto r = ReadRequest(body)) return std::move(*r);
  // Anything the direct reader does not follow, malformed input included:
  // the document path holds the accepted shapes and the messages.
  json j = json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) Bad("the request is not JSON");
  const json& m = Member(j, "module", "request");
  const json& me = Member(j, "method", "request");
  const json& a = Member(j, "args", "request");
  if (!m.is_string() || !me.is_string()) Bad("module and method must be text");
  if (!a.is_array()) Bad("\"args\" is not an array");
  if (a.size() > kMaxArguments)
    Bad("the request has " + std::to_string(a.size()) + " arguments; at most " + std::to_string(kMaxArguments) +
        " are accepted");
  Request r{m.get<std::string>(), me.get<std::string>(), {}};
  r.args.reserve(a.size());
  for (const auto& x : a) r.args.push_back(FromJson(x));
  return r;
}

std::string EncodeResult(const Value& v) {
  if (const auto* f = std::get_if<ServerFailure>(&v)) return EncodeFailure(f->message, f->code);
  std::string out = "{\"result\":";
  AppendJsonValue(out, v);
  out += '}';
  return out;
}

std::string EncodeFailure(std::string_view message, std::string_view code) {
  std::string out = "{\"error\":";
  AppendJsonString(out, message);
  if (!code.empty()) {
    out += ",\"code\":";
    AppendJsonString(out, code);
  }
  out += '}';
  return out;
}

Value DecodeResponse(std::string_view body) {
  if (auto v = ReadResult(body)) return std::move(*v);
  json j = json::parse(body, nullptr, false);
  if (j.is_discarded() || !j.is_object()) Bad("the response is not a JSON object");
  if (auto it = j.find("error"); it != j.end()) {
    if (!it->is_string()) Bad("\"error\" is not text");
    ServerFailure failure{it->get<std::string>(), {}};
    if (auto code = j.find("code"); code != j.end()) {
      if (!code->is_string()) Bad("\"code\" is not text");
      failure.code = code->get<std::string>();
    }
    return failure;
  }
  return FromJson(Member(j, "result", "response"));
}

}  // namespace trd::wire
