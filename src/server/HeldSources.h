// The source texts a batch's records hold, for the look-ups that come before
// any change: whether each text of a file is stored already. A file's texts
// share one (program, form, language) as a rule, so the records of the form
// are read at once when the batch reaches the file (one statement instead of
// one a text), and each text is then answered from memory. A key of another
// form is asked of the table as it comes.
//
// The records of a form are kept as one sorted array of (component,
// property, number, source), found by binary search: a look-up for each
// stored text of a re-harvested tree, so no allocation a record beyond its
// strings. Read-only: the batch's write transaction keeps its own view of
// the records (StorageChannel.cpp).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "Database.h"
#include "protocol/Record.h"

namespace trd::server {

// The entry of `key`'s (program, form, language) in `forms` (a map keyed by
// those three texts, in this order, with a transparent comparison), or
// forms.end(). The texts of a file come one after another, so `last`, the
// entry found before, is tried first; it is moved to the entry found.
template <typename Forms>
typename Forms::iterator FormOfKey(Forms& forms, typename Forms::iterator& last, const protocol::RecordKey& key) {
  const auto same = [&](const auto& f) {
    return std::get<0>(f) == key.program && std::get<1>(f) == key.form && std::get<2>(f) == key.language;
  };
  if (last != forms.end() && same(last->first)) return last;
  const auto it = forms.find(std::tuple<std::string_view, std::string_view, std::string_view>(key.program, key.form,
                                                                                              key.language));
  if (it != forms.end()) last = it;
  return it;
}

// "CDPROGRAMA = ? AND NMFORMULARIO = ? AND IDIDIOMA = ?": the records of one
// form, its (program, form, language) bound in this order.
const std::string& FormCondition();

class HeldSources {
 public:
  explicit HeldSources(Session& s) : s_(s) {}

  // Reads the records of `first`'s (program, form, language), the form of a
  // file of the batch, unless they are held already.
  void Hold(const protocol::RecordKey& first);

  // Whether `key`'s record holds `value` as its source text, trailing blanks
  // ignored on both sides (RecordsOfKeyAndSource's test).
  bool Holds(const protocol::RecordKey& key, std::string_view value);

 private:
  struct Held {
    std::string component, property;
    double number = 0;
    FieldValue source;
  };
  using FormKey = std::tuple<std::string, std::string, std::string>;  // program, form, language
  using Forms = std::map<FormKey, std::vector<Held>, std::less<>>;

  Session& s_;
  Forms forms_;
  Forms::iterator last_ = forms_.end();
};

}  // namespace trd::server
