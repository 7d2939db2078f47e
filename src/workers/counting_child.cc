#include "workers/counting_child.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "analysis/accumulation.h"
#include "analysis/log_record.h"
#include "analysis/run_modes.h"
#include "base/console.h"
#include "base/error_log.h"
#include "logs/log_reader.h"
#include "stats/counted_list.h"
#include "workers/counted_stretches.h"
#include "workers/file_claims.h"

namespace sorvik {

namespace {

// What a counting child keeps while it reads a piece.
struct CountingChild {
  ScriptWriter writer;
  FactsRecorder facts;  // of the current piece
  uint64_t file_records = 0;
  uint64_t piece_number = 0;
  // The stretch whose counts the lists hold.
  StretchRef ref;
  StretchHead head;
  bool counting_stretch = false;
};

// Ends the child's script where it stands: the run reads the piece's file
// itself.
[[noreturn]] void give_up(CountingChild& child) { exit_child(child.writer); }

// Sends the stretch the lists hold, and empties them for the next.
void send_stretch(CountingChild& child) {
  if (!child.counting_stretch) return;
  if (analysis.path_lists_owed) make_path_lists();
  if (analysis.directories_owed) make_directory_list();
  if (analysis.agents_owed) make_agent_lists();
  if (analysis.client_pages_owed) give_client_pages();
  put_stretch(child.writer, child.ref, child.head, analysis.first_requests);
  empty_period_lists();
  analysis.first_requests.clear();
  list_clear(kUnknownBrowsers);
  list_clear(kUnknownOpsys);
  analysis.path_lists_owed = true;
  analysis.directories_owed = true;
  analysis.agents_owed = true;
  child.counting_stretch = false;
}

// Notes the record about to be counted in its stretch's head; a record of
// another stretch sends the one before.
void note_record(CountingChild& child) {
  const auto stretch = static_cast<uint64_t>(analysis.stretch);
  const StretchRef now{analysis.file_index, child.piece_number * kStretchesPerFile + stretch};
  if (!child.counting_stretch || now != child.ref) {
    send_stretch(child);
    // A file whose month goes back and forth (an unsorted or a hostile
    // log) would leave the analyzer more stretches than it should keep.
    if (stretch >= kStretchesPerFile) give_up(child);
    child.ref = now;
    child.head = StretchHead{};
    child.head.first = child.file_records;
    for (int i = 1; i <= 4; ++i) child.head.fields[i].assign(analysis.record.field[i]);
    child.head.earliest = analysis.request.seconds;
  }
  StretchHead& head = child.head;
  head.earliest = std::min(head.earliest, analysis.request.seconds);
  head.records += 1;
  child.file_records += 1;
  const long double bytes = static_cast<long double>(analysis.request.size);
  head.bytes += bytes;
  head.magnitude += bytes < 0 ? -bytes : bytes;
  child.counting_stretch = true;
}

// A week is one file: the facts of a piece are complete at its end.
void send_piece_facts(CountingChild& child) {
  send_stretch(child);
  put_piece_facts(child.writer, analysis.file_index, child.piece_number, child.file_records,
                  static_cast<uint64_t>(log_lines_read()), child.facts);
  child.facts.clear();
  child.file_records = 0;
  analysis.period_bytes = 0;
}

// Where the reading's and the parsing's reports go in the child.
void hold_reports(CountingChild& child) {
  console.sink = [&child](std::string_view text) {
    if (analysis.phase == RecordPhase::kOther) return;
    child.facts.console(analysis.phase == RecordPhase::kReading ? FileEvent::kReadConsole
                                                                : FileEvent::kParseConsole,
                        child.file_records, text);
  };
  console.key_source = [] { return -1; };
  error_log.divert = [&child](std::string_view source, std::string_view text) {
    if (analysis.phase == RecordPhase::kOther) return;
    // The parsing's only entry that does not stop the run is the unknown
    // method's, whose line number each mode gives its own way.
    if (analysis.phase == RecordPhase::kReading) {
      child.facts.entry(FileEvent::kReadEntry, child.file_records, source, text);
    } else {
      child.facts.entry(FileEvent::kUnknownCommand, child.file_records, source,
                        analysis.request.method);
    }
  };
  analysis.held_malformed_line = [&child](const MalformedLine& malformed) {
    child.facts.malformed(child.file_records, analysis.current_log_path, malformed);
  };
  analysis.before_count = [&child] {
    note_record(child);
    return true;
  };
  analysis.held_period_end = [&child](const PeriodEnd&) { send_piece_facts(child); };
}

// The lists count as a stretch's: with each entry's first time, the page,
// directory and agent lists made when the stretch is sent.
void count_as_stretches() {
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    lists.list_slots[slot].keep_first_times = true;
  }
  for (const int slot : {kUnknownBrowsers, kUnknownOpsys}) {
    list_clear(slot);
    lists.list_slots[slot].keep_first_times = true;
  }
  analysis.keep_first_requests = true;
  analysis.path_lists_owed = true;
  analysis.directories_owed = true;
  analysis.reader_options.directory_hints = false;
  analysis.agents_owed = true;
  analysis.stretch_agents.keep_first_times = true;
  analysis.client_pages_owed = true;
  analysis.client_pages.clear();
  analysis.current_log_path.clear();
}

void count_pieces(CountingChild& child, FileClaims& claims, int number) {
  for (;;) {
    const int64_t i = claim_next_piece(claims, number);
    if (i < 0) break;
    const CountedPiece& piece = claims.piece[static_cast<std::size_t>(i)];
    // A file changed since it was cut is left to the weeks run, which
    // reads it whole, as it does the files after it.
    if (!piece_still_cut(piece)) give_up(child);
    child.piece_number = piece.number;
    read_week_file(piece.file, piece.bytes);
  }
  child.writer.begin(Step::kEnd);
  child.writer.finish();
}

}  // namespace

void run_counting_child(const ChildStart& start) {
  CountingChild child;
  child.writer.fd = start.fd;
  hold_reports(child);
  count_as_stretches();
  try {
    count_pieces(child, *start.stretches->claims, start.number);
  } catch (...) {
    put_ending(child.writer);
  }
  exit_child(child.writer);
}

}  // namespace sorvik
