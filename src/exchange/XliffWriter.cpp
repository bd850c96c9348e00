#include "Carriage.h"
#include "KeyText.h"
#include "Xliff.h"
#include "XliffNames.h"
#include "platform/Errors.h"

namespace trd::exchange {
namespace {

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
const xmlChar* X(const std::string& s) { return X(s.c_str()); }

const char* StateName(State s) {
  switch (s) {
    case State::Translated:
      return xliff::kStateTranslated;
    case State::NeedsReview:
      return xliff::kStateNeedsReview;
    case State::NeedsTranslation:
      break;
  }
  return xliff::kStateNeedsTranslation;
}

}  // namespace

XliffWriter::XliffWriter(std::ostream& out, const FileHeader& header, std::string name)
    : out_(out), name_(std::move(name)), w_(xml::WriterTo(out)) {
  Check(xmlTextWriterSetIndent(w_.get(), 1));
  Check(xmlTextWriterSetIndentString(w_.get(), X(" ")));
  Check(xmlTextWriterStartDocument(w_.get(), "1.0", "UTF-8", nullptr));
  Check(xmlTextWriterStartElement(w_.get(), X("xliff")));
  Check(xmlTextWriterWriteAttribute(w_.get(), X("version"), X(xliff::kVersion)));
  Check(xmlTextWriterWriteAttribute(w_.get(), X("xmlns"), X(xliff::kNamespace)));
  Check(xmlTextWriterStartElement(w_.get(), X("file")));
  Check(xmlTextWriterWriteAttribute(w_.get(), X("original"), X("trd")));
  Check(xmlTextWriterWriteAttribute(w_.get(), X("datatype"), X("plaintext")));
  Check(xmlTextWriterWriteAttribute(w_.get(), X("source-language"),
                                    X(LanguageTag(header.source_language, TagStyle::Bcp47))));
  Check(xmlTextWriterWriteAttribute(w_.get(), X("target-language"),
                                    X(LanguageTag(header.language, TagStyle::Bcp47))));
  Check(xmlTextWriterStartElement(w_.get(), X("body")));
}

void XliffWriter::Check(int rc) const {
  if (rc < 0) throw Error(name_ + ": cannot write");
}

void XliffWriter::Element(const char* name, const std::string& text) {
  Check(xmlTextWriterStartElement(w_.get(), X(name)));
  Check(xmlTextWriterWriteString(w_.get(), X(text)));
  Check(xmlTextWriterEndElement(w_.get()));
}

void XliffWriter::Add(const Unit& unit) {
  if (!Admit(unit, Format::Xliff, summary_)) return;
  const std::string id = IdOf(unit);
  Check(xmlTextWriterStartElement(w_.get(), X("trans-unit")));
  Check(xmlTextWriterWriteAttribute(w_.get(), X("id"), X(id)));
  const bool approved = Approved(unit);
  if (unit.context) Check(xmlTextWriterWriteAttribute(w_.get(), X("resname"), X(KeyText(*unit.context))));
  if (approved) Check(xmlTextWriterWriteAttribute(w_.get(), X("approved"), X("yes")));
  Check(xmlTextWriterWriteAttribute(w_.get(), X("xml:space"), X("preserve")));
  Element("source", unit.source);
  Check(xmlTextWriterStartElement(w_.get(), X("target")));
  Check(xmlTextWriterWriteAttribute(w_.get(), X("state"), X(approved ? xliff::kStateSignedOff : StateName(unit.state))));
  if (unit.translation) Check(xmlTextWriterWriteString(w_.get(), X(*unit.translation)));
  Check(xmlTextWriterEndElement(w_.get()));
  if (const auto note = ReviewNoteOf(unit)) Element("note", *note);
  AltTrans(unit);
  if (!unit.keys.empty()) {
    Check(xmlTextWriterStartElement(w_.get(), X("context-group")));
    Check(xmlTextWriterWriteAttribute(w_.get(), X("purpose"), X(xliff::kKeyGroupPurpose)));
    for (const protocol::RecordKey& key : unit.keys) {
      Check(xmlTextWriterStartElement(w_.get(), X("context")));
      Check(xmlTextWriterWriteAttribute(w_.get(), X("context-type"), X(xliff::kKeyContextType)));
      Check(xmlTextWriterWriteString(w_.get(), X(KeyText(key))));
      Check(xmlTextWriterEndElement(w_.get()));
    }
    Check(xmlTextWriterEndElement(w_.get()));
  }
  Check(xmlTextWriterEndElement(w_.get()));
  ++summary_.written;
}

// Every distinct translation the records hold (a note says how many hold
// it), or the suggestion for a unit without translation with the source it
// translates and its match quality.
void XliffWriter::AltTrans(const Unit& unit) {
  for (const Alternative& a : unit.alternatives) {
    if (!Carried(a.translation, Format::Xliff)) continue;
    Check(xmlTextWriterStartElement(w_.get(), X("alt-trans")));
    Check(xmlTextWriterWriteAttribute(w_.get(), X("origin"), X(xliff::kOriginRecords)));
    Element("target", a.translation);
    Element("note", std::to_string(a.records) + (a.records == 1 ? " record holds" : " records hold") +
                        " this translation");
    Check(xmlTextWriterEndElement(w_.get()));
  }
  const auto& s = unit.suggestion;
  if (!s || unit.translation || !Carried(s->source, Format::Xliff) || !Carried(s->translation, Format::Xliff)) return;
  Check(xmlTextWriterStartElement(w_.get(), X("alt-trans")));
  Check(xmlTextWriterWriteAttribute(w_.get(), X("match-quality"), X(std::to_string(s->similarity))));
  Check(xmlTextWriterWriteAttribute(w_.get(), X("origin"), X(xliff::kOriginMemory)));
  Element("source", s->source);
  Element("target", s->translation);
  Check(xmlTextWriterEndElement(w_.get()));
}

WriteSummary XliffWriter::Finish() {
  Check(xmlTextWriterEndDocument(w_.get()));  // closes body, file and xliff
  Check(xmlTextWriterFlush(w_.get()));
  w_.reset();  // closes the output buffer, which flushes the stream
  out_.flush();
  if (!out_) throw Error(name_ + ": cannot write");
  return summary_;
}

}  // namespace trd::exchange
