// XLIFF 1.2 files, written and read with libxml2 (LibXml.h).
//
//   <xliff version="1.2" xmlns="urn:oasis:names:tc:xliff:document:1.2">
//    <file original="trd" datatype="plaintext" source-language="pt-BR" target-language="en">
//     <body>
//      <trans-unit id="t3f2a..." xml:space="preserve">        (per key: resname="KEY")
//       <source>Salvar</source>
//       <target state="translated">Save</target>
//       <context-group purpose="location">
//        <context context-type="x-trd-key">CADCLI/FRMCADCLI/BTNSALVAR/Caption/0/ENG</context>
//       </context-group>
//      </trans-unit>
//
// Written: one <file>; one trans-unit per unit with its stable id; per-key
// units name their key in resname; every key of the unit is a context of
// type x-trd-key. Target state: Translated "translated" (an approved one
// "signed-off", with approved="yes" on the trans-unit and a <note> of who
// approved it when), NeedsReview
// "needs-review-translation" (a sent-back one with a <note> of who sent it
// back when), NeedsTranslation "needs-translation" (with an
// empty target when there is no translation). Alternatives and a
// suggestion go out as <alt-trans> (origin kOriginRecords with a note of the
// records holding it; origin kOriginMemory with the similar source and
// match-quality in percent). CR is written &#13;. Texts XML 1.0 cannot carry
// are left out (Carriage.h).
//
// Read: every trans-unit of every <file>, in order, wherever it sits under
// <body>. Target state: translated, signed-off and final are Translated; new
// and needs-translation NeedsTranslation; any other state NeedsReview; a
// target without state is Translated only when the trans-unit says
// approved="yes". <mrk> and <g> inside a text keep their text; other inline
// codes (<x/>, <ph>, <bpt>, ...), entity references of a DTD, a missing id or
// source, a resname or x-trd-key context that is not a key text, or another
// XLIFF version, are a FormatError with the line.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "Exchange.h"
#include "LibXml.h"

namespace trd::exchange {

class XliffWriter final : public UnitWriter {
 public:
  XliffWriter(std::ostream& out, const FileHeader& header, std::string name);
  void Add(const Unit& unit) override;
  WriteSummary Finish() override;

 private:
  void Check(int rc) const;
  void Element(const char* name, const std::string& text);
  void AltTrans(const Unit& unit);

  std::ostream& out_;
  std::string name_;
  xml::TextWriter w_;
  WriteSummary summary_;
};

FileInfo ReadXliff(const std::filesystem::path& file, const UnitSink& sink);

}  // namespace trd::exchange
