// The screen's side of the translation store: the three server connections,
// the staging tables, and the sends of their changes. A change made in a
// staging table goes to the server when its owner says so (SendDeleted,
// SendCreated, SendVersion), never as a side effect of the table's events.
//
// A Store is created with the screen (or a command's run) and lives as long
// as it; it owns its tables and connections and uses the caller's services
// (busy indicator, result check), which must outlive it. Everything runs on
// one thread. How a run's texts reach these tables and calls (text by text,
// in batches of whole files, or simulated) is the channel the run is given
// (store/TextChannels.h).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Connection.h"
#include "platform/DataSet.h"
#include "platform/Endpoint.h"
#include "shared/Services.h"

namespace trd::store {

// What the server calls of one run amounted to, counted from the answers
// (failures are not counted).
struct RunStats {
  long texts_seen = 0;        // value look-ups (GetPropried, GetPropriedRel)
  long already_stored = 0;    // look-ups that found the text stored, texts found
                              // stored meanwhile (the record rule), and inserts
                              // another client made first (RecordRace)
  long created = 0;           // records sent (SetPropried, SetPropriedRel)
  long replaced = 0;          // older values of a key deleted (SetVerProp, SetVerPropRel)
  long translations_reused = 0;  // translations copied (UpdateRelDfm)
  long skipped = 0;  // texts the record rule declined (not translatable, empty)
  // Every text looked at ends as exactly one of: stored already, skipped,
  // a record for a key that had none (created - replaced), or a record that
  // replaced another text (replaced). A run ended by a failure may have
  // seen one text more.
  long NewKeys() const { return created - replaced; }
  bool operator==(const RunStats&) const = default;
};

// The tables, connections and look-up methods that hold the records of form
// files, or of report files, on their way to and from the server.
struct RecordTables {
  Connection& records;               // NetTradRelDfm / netImportRel
  std::string_view by_value_method;  // GetPropried / GetPropriedRel
  std::string_view by_key_method;    // GetVerProp / GetVerPropRel
  std::string_view delete_method;    // SetVerProp / SetVerPropRel
  std::string_view insert_method;    // SetPropried / SetPropriedRel
  DataSet& by_value;                 // cdsPropried / cdsProprieRel
  DataSet& by_key;                   // cdsVerificaProp / cdsVerifiRel: its deletes go out by SendDeleted
  DataSet& created;                  // cdsPropProp / cdsPropRel: its posts go out by SendCreated
  Connection& translations;          // netUpdRelDfm
  DataSet& translated;               // cdsUpdRelDfm / cdsTesteUpd
};

class Store {
 public:
  // Creates the connections (their transports made by `transports`; empty
  // for HTTP) and the tables. Nothing is opened yet.
  explicit Store(shared::Services& services, TransportFactory transports = {});
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Opens the three connections to the server at `server`.
  void OpenConnections(const Endpoint& server);
  void CloseConnections();

  shared::Services& Services() const { return services_; }

  // Counters of the answered calls; the caller resets them per run.
  RunStats stats;

  // Connections: L, R and U.
  Connection NetTradRelDfm;
  Connection netImportRel;
  Connection netUpdRelDfm;

  // Look-up tables (closed and reloaded before each look-up).
  DataSet cdsIdiLeDfm;
  DataSet cdsPropried;
  DataSet cdsUpdRelDfm;
  DataSet cdsProprieRel;
  DataSet cdsTesteUpd;
  // Sending tables.
  DataSet cdsVersao;
  DataSet cdsVerificaProp;
  DataSet cdsPropProp;
  DataSet cdsVerifiRel;
  DataSet cdsPropRel;

  RecordTables FormRecords();
  RecordTables ReportRecords();

  // The sends (SendChanges): the deletes logged in `tables.by_key` and the
  // posts logged in `tables.created`, each through its method with the races
  // of several clients settled (RecordRace); the version record posted in
  // cdsVersao, through SetVersao. A failure undoes the logged changes and
  // passes on.
  void SendDeleted(const RecordTables& tables);
  void SendCreated(const RecordTables& tables);
  void SendVersion();

 private:
  void Count(std::string_view method, const Value& result);
  shared::Services& services_;
};

// Given a change set the server refused and the failure, returns the answer
// the sender goes by: the failure itself, null when the change has its effect
// all the same, or the answer to a resend.
using SendAnswer = std::function<Value(std::string_view method, const ChangeSet& delta, Value failure)>;

// Sends the change log of `table` through `method` on `connection` as one
// change set: nothing when the log is empty; otherwise busy indicator on,
// call, result check, indicator off, merge. A failure answered goes through
// `answer` (when given) before the result check. On any failure left the
// indicator is hidden, the log discarded (the change undone) and the failure
// rethrown.
void SendChanges(const shared::Services& services, DataSet& table, Connection& connection,
                 std::string_view method, const SendAnswer& answer = nullptr);

// Several clients harvesting at once race on the same keys: between one
// client's look-ups and its change, another may store, replace or delete the
// record of the key. For the record tables' sends (one record each) this
// takes as sent the outcomes of such a race that leave the table as the
// change meant to, and nothing else:
//   - a delete of a record that is gone (no record of key);
//   - an insert of a key that holds a record (duplicate key): the record is
//     read again with `by_key` (GetVerProp or GetVerPropRel) on `connection`;
//     if it holds the same source text (trailing blanks ignored) the insert
//     counts as stored (stats.already_stored); if the key holds nothing any
//     more (another client is replacing it) the insert is sent again, up to
//     8 sends in all; a different text stays a failure (two runs storing
//     different texts under one key: the later one is told).
// A change set of several changes is never taken as sent: the server rolled
// all of it back.
SendAnswer RecordRace(const shared::Services& services, Connection& connection, std::string_view by_key,
                      RunStats& stats);

// A look-up: closes `table`, calls `method` with `args`, passes the result
// through the result check and loads the returned data packet into `table`.
// A result that is not a data packet raises ServerError.
void Lookup(const shared::Services& services, DataSet& table, Connection& connection, std::string_view method,
            std::vector<Value> args);

}  // namespace trd::store
