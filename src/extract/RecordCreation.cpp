#include "RecordCreation.h"

#include <string>

#include "PropertyValues.h"
#include "platform/Text.h"
#include "protocol/Methods.h"
#include "shared/Services.h"
#include "store/Record.h"

namespace trd::extract {
namespace {

std::string StatusLine(const ScannerContext& ctx, std::string_view text, StatusText style) {
  std::string s = ctx.program_code + " - " + ctx.form_name + " - " + ctx.component_name + " - " +
                  ctx.property_name + " - ";
  if (style == StatusText::WholeValue) {
    s.append(text);
  } else {
    s.append(text::Left(text, 30));
    s += " ...";
  }
  return s;
}

void ShowStatus(const ScannerContext& ctx, std::string_view text, StatusText style) {
  if (ctx.env.status) ctx.env.status(StatusLine(ctx, text, style));
}

}  // namespace

void CreateRecord(ScannerContext& ctx, std::string_view text, const RecordOptions& options) {
  store::Store& st = ctx.env.store;
  const std::string& lang = ctx.env.language;
  const std::string number = std::to_string(options.number);
  const std::string value(text::Left(text, protocol::kMaxValueLength));

  try {
    store::Lookup(st.cdsPropried, st.NetTradRelDfm, protocol::kGetPropried,
                  {text::UpperAscii(ctx.program_code), ctx.form_name, ctx.component_name,
                   ctx.property_name, number, shared::RTrim(value), lang});
  } catch (...) {
    shared::DeactiveShowAvi();
    throw;
  }
  shared::DeactiveShowAvi();

  if (!st.cdsPropried.IsEmpty()) {
    if (options.stored == StoredNotice::StatusAndEvents) {
      ShowStatus(ctx, text, options.status);
      if (ctx.env.process_events) ctx.env.process_events();
    }
    return;
  }
  if (!TestaValorProp(text, ctx.component_name, ctx.class_name, ctx.property_name)) return;
  if (options.empty == EmptyText::Skip && shared::EmptyString(text)) return;

  ctx.program_code = text::UpperAscii(ctx.program_code);

  store::Lookup(
      st.cdsVerificaProp, st.NetTradRelDfm, protocol::kGetVerProp,
      {ctx.program_code, ctx.form_name, ctx.component_name, ctx.property_name, number, lang});
  if (store::HoldsSourceText(st.cdsVerificaProp, value)) {  // stored meanwhile by another client
    ++st.stats.already_stored;
    ShowStatus(ctx, text, options.status);
    return;
  }
  if (!st.cdsVerificaProp.IsEmpty()) st.cdsVerificaProp.Delete();

  ShowStatus(ctx, text, options.status);

  store::PostNewRecord(st.cdsPropProp,
                       {ctx.program_code, ctx.form_name, ctx.component_name, ctx.property_name,
                        double(options.number), lang},
                       value);

  store::Lookup(st.cdsUpdRelDfm, st.netUpdRelDfm, protocol::kGetUpdRelDfm, {value, lang});
  if (!st.cdsUpdRelDfm.IsEmpty()) {
    Value result =
        st.netUpdRelDfm.Call(protocol::kUpdateRelDfm, {ctx.program_code, ctx.form_name, ctx.component_name,
                                              ctx.property_name, std::int64_t(options.number), lang,
                                              st.cdsUpdRelDfm.AsString("STVALORPROP"),
                                              std::string("T"), DateTime::Now()});
    shared::CheckResultServ(result, true, 0);
  }
}

}  // namespace trd::extract
