#include "ReportImport.h"

#include "platform/Path.h"
#include "platform/SourceFile.h"
#include "platform/Text.h"
#include "protocol/Record.h"

namespace trd::report {
namespace {

// The entry of `key` in the caller's table, else in ours, else the key.
std::string MessageText(const shared::TMessages& table, std::string_view key) {
  return table.Has(key) ? table.Msg(key) : ReportMessages().Msg(key);
}

enum class FileSignature { Report, Other };

// Reads only the file's first two bytes.
FileSignature ReadFileSignature(std::string_view path) {
  std::optional<std::uint16_t> id = ReadSignature(ReadSourceFileHead(path, kSignatureSize));
  return id && *id == kReportFileID ? FileSignature::Report : FileSignature::Other;
}

void ShowNotAReport(const ReportRun& run, std::string_view path) {
  const std::string text =
      shared::FormatMessage(MessageText(run.messages, "Nao_Import"), {text::PathText(FileName(path))});
  shared::TMessages({"Nao_Import|" + text})
      .ShowMsg(*run.services.dialogs, "Nao_Import", shared::MsgType::Confirmation, shared::MsgButtons::Ok, 0);
}

// What the import shows of one text as the sink reaches the rule's steps:
// the status line and the pending events at every step (reports decline no
// text; should one be declined, the events run and nothing is shown).
class ReportWatcher final : public protocol::TextWatcher {
 public:
  ReportWatcher(const ReportRun& run, std::string_view path, std::string_view element, std::string_view number,
                std::string_view property, std::string_view text)
      : run_(run), path_(path), element_(element), number_(number), property_(property), text_(text) {}

  void Reached(protocol::TextStep step) override {
    told_ = true;
    if (step == protocol::TextStep::Skipped) {
      Events();
      return;
    }
    if (run_.status) {
      std::string line = protocol::ProgramCode(path_);
      for (std::string_view part : {element_, property_, number_, text_}) {
        line += " - ";
        line += part;
      }
      line += " ...";
      run_.status(line);
    }
    Events();
  }

  // The sink kept the text without a step: the events run once all the same.
  void Taken() {
    if (!told_) Events();
  }

 private:
  void Events() {
    if (run_.process_events) run_.process_events();
  }

  const ReportRun& run_;
  std::string_view path_, element_, number_, property_, text_;
  bool told_ = false;
};

}  // namespace

const shared::TMessages& ReportMessages() {
  static const shared::TMessages messages(
      {"Nao_Import|O arquivo %s não é um relatório válido e não foi importado."});
  return messages;
}

ReportOutcome ReportImporter::ImportRel(const ReportRun& run, std::string_view path) {
  if (run.language_check == LanguageCheck::Unknown) {
    if (run.focus_language_box) run.focus_language_box();
    run.services.MensErro(MessageText(run.messages, "Idi_Inv"), true);
  }
  int unnamed = 0;

  if (ReadFileSignature(path) == FileSignature::Other) {
    ShowNotAReport(run, path);
    return ReportOutcome::NotAReport;
  }
  loader_.Load(path);

  auto element_name = [&unnamed](const ReportElement& e) {
    if (!e.name.empty()) return e.name;
    return "__" + e.class_name + std::to_string(unnamed++);
  };
  auto stop = [&run] { return run.stop_requested && run.stop_requested(); };
  const std::vector<ReportElement>& components = loader_.Components();
  const std::size_t count = components.size();
  for (std::size_t i = 0; i < count; ++i) {
    const ReportElement& e = components[i];
    const ElementClass* cls = ClassOf(e.kind);
    if (!cls) continue;
    if (cls->shape == TextShape::Single) {
      if (stop()) return ReportOutcome::Read;
      StoreReportValue(run, path, element_name(e), 0, cls->recorded_property, e.texts.front());
      continue;
    }
    for (std::size_t j = 0; j < e.texts.size(); ++j) {
      if (stop()) return ReportOutcome::Read;
      std::string_view line = e.texts[j];
      if (e.kind == ElementKind::Expression) {
        if (std::size_t bar = line.find('|'); bar != std::string_view::npos)
          line.remove_prefix(bar + 1);
      }
      StoreReportValue(run, path, element_name(e), int(j), cls->recorded_property, line);
    }
  }
  return ReportOutcome::Read;
}

void StoreReportValue(const ReportRun& run, std::string_view path, std::string_view element,
                      int number, std::string_view property, std::string_view text) {
  const bool cut = text::Length(text) > protocol::kMaxValueLength;
  const protocol::FoundText found{{text::UpperAscii(protocol::ProgramCode(path)), std::string(kReportFormName),
                                   std::string(element), std::string(property), double(number), run.language},
                                  text,
                                  protocol::Declined::No,
                                  cut ? protocol::TranslationLookUp::No : protocol::TranslationLookUp::Yes,
                                  protocol::TextSource::Report};
  const std::string number_text = std::to_string(number);
  ReportWatcher watcher(run, path, element, number_text, property, text);
  run.sink.Take(found, watcher);
  watcher.Taken();
}

}  // namespace trd::report
