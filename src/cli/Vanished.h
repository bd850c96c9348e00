// Vanished texts of a harvest: records of a program and language that the
// run did not see although it read every file of the program in full, so
// their text was removed from the source. They are reported (a count in the
// summary, the records with --list-vanished), never deleted: their
// translations may still be wanted.
//
// The run's texts are noted from its requests: every text of a form or
// report file either goes to the server in its file's batch or alone
// (SetPropriedArq: the default, --one-call-per-text) or is looked up by key
// and value (GetPropried, GetPropriedRel: --per-text and --dry-run) before
// anything else is done with it, so the keys of those requests are exactly
// the records the run saw. SeenKeys observes the requests on the way out,
// without a change to the run, and the batch method's answers on the way
// back: a text the server stored, found stored or replaced leaves its key
// holding a record. A program whose record count on the server equals its
// keys known to hold one has no vanished record, and its records are not
// read back (an unchanged tree's re-harvest then reads nothing back; before,
// reading every record again took a quarter of such a run).
//
// Which programs qualify: only a run that read every selected file in full
// (outcome completed, no file left unread or failed) tells what is gone; a
// run cut short by an error or Ctrl-C reports no vanished texts rather than
// texts it merely did not reach. A harvest judges the programs of its files;
// `trd retire`, which reads a whole tree, judges every program of the
// language, so that a program with no file left in the tree is gone whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <nlohmann/json.hpp>

#include "ServerChoice.h"
#include "protocol/Record.h"
#include "run/ImportRun.h"

namespace trd::cli {

// Whether a seen key is known to hold a record after the run.
enum class KeyHeld { Unknown, Yes };

// The seen keys of one program, read back for a record-by-record comparison.
struct ProgramKeys {
  std::unordered_set<std::string> keys;   // key texts (exchange/KeyText.h)
  std::unordered_set<std::string> forms;  // their "PROGRAM/FORM/" beginnings
  bool Contains(const protocol::RecordKey& key) const;
  // Whether some seen key is of the key's program and form.
  bool HasForm(const protocol::RecordKey& key) const;
};

// The run's seen keys, in memory that does not grow with the tree's texts:
// only the keys of the program being noted are held (a file's texts come
// together, so a program's keys mostly do); when another program's key comes
// they are written to an unnamed temporary file as one block of lines, one
// per key ('1' when it is known to hold a record, else '0', then its key
// text). In memory each program keeps its code and 32 bytes: the hash of its
// code, where its block lies and how many of its keys are known to hold a
// record, so that HeldIn, asked of every program after the run, reads
// nothing back. A program noted again later gets its keys back first, so
// that a key seen twice is counted once, and its new block replaces the old
// one. Without a temporary directory the blocks are kept in memory instead.
class SeenKeys {
 public:
  SeenKeys();
  ~SeenKeys();
  SeenKeys(const SeenKeys&) = delete;
  SeenKeys& operator=(const SeenKeys&) = delete;

  // Transports that pass every call to those of `inner` (empty: HTTP) and
  // note the key of each look-up by key and value.
  TransportFactory Observe(TransportFactory inner);
  void Note(const protocol::RecordKey& key, KeyHeld held = KeyHeld::Unknown);
  // The program's seen keys known to hold a record.
  std::size_t HeldIn(const std::string& program) const;
  // The program's seen keys (none for a program the run did not see).
  ProgramKeys KeysOf(const std::string& program) const;

 private:
  struct Slot {
    std::uint64_t hash = 0;        // of the program code
    std::uint64_t lines_at = 0;    // its block: the key lines' offset and length
    std::uint64_t lines_size = 0;
    std::uint32_t held = 0;        // its keys known to hold a record
    std::uint32_t code_at = 0;     // its code in codes_
  };
  void Open(const std::string& program);  // the program whose keys are noted
  void Close();                           // writes them out
  // The slot of `program`'s block; nullptr when it has none.
  Slot* Find(const std::string& program) const;
  std::string Bytes(std::uint64_t offset, std::uint64_t size) const;
  void Append(const std::string& bytes);

  bool open_ = false;
  std::string program_;
  std::unordered_map<std::string, KeyHeld> keys_;  // of program_, by key text
  // The programs' slots: sorted by hash, and the latest unsorted, merged in
  // from time to time.
  mutable std::vector<Slot> sorted_;
  mutable std::vector<Slot> recent_;
  std::string codes_;  // every slot's program code, each followed by a NUL
  int file_ = -1;                                   // the temporary file; -1: spill_ instead
  std::uint64_t end_ = 0;                           // bytes written
  std::string spill_;
};

// Why a record is gone from the sources.
enum class GoneWhy {
  Program,  // no file of its program is in the tree
  Form,     // its program's files were read in full, and none holds its form
  Text,     // its form was read in full without the record's text
};

struct VanishedRecord {
  protocol::RecordKey key;
  std::string source;
  bool source_null = false;  // the record has no source text at all
  GoneWhy why = GoneWhy::Text;
};

// Which programs' records are compared with the keys seen.
enum class VanishedScope {
  RunPrograms,   // the programs of the run's files (trd harvest)
  EveryProgram,  // every program of the language on the server (trd retire)
};

struct Vanished {
  bool computed = false;
  std::string why_not;       // when not computed
  std::size_t programs = 0;  // programs whose records were compared
  std::size_t count = 0;
  std::vector<VanishedRecord> records;  // kept with `keep_list` only
  double seconds = 0;                   // what finding them took
};

// The vanished records of the programs of `paths` in `language`, read from
// the server's exchange module; `paths` are the run's selected files.
Vanished FindVanished(const ServerChoice& server, const SeenKeys& seen, const run::Summary& summary,
                      const run::PathList& paths, const std::string& language, bool keep_list,
                      VanishedScope scope = VanishedScope::RunPrograms);

// The summary's line ("Sumidos: N"), and with `list` the records.
void PrintVanished(std::ostream& out, const Vanished& v, bool list);
// "vanished": N (null when not computed), "vanished_seconds", with `list`
// "vanished_records".
void AddVanished(nlohmann::ordered_json& j, const Vanished& v, bool list);

}  // namespace trd::cli
