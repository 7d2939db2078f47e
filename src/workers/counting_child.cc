#include "workers/counting_child.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/accumulation.h"
#include "analysis/log_record.h"
#include "analysis/run_modes.h"
#include "base/console.h"
#include "base/error_log.h"
#include "base/text.h"
#include "logs/log_reader.h"
#include "logs/log_reporter.h"
#include "stats/counted_list.h"
#include "workers/counted_stretches.h"
#include "workers/file_claims.h"

namespace sorvik {

namespace {

// What a counting child keeps while it reads a piece.
struct CountingChild {
  ScriptWriter writer;
  FactsRecorder facts;  // of the current piece
  uint32_t file = 0;    // the piece's file and number
  uint64_t piece_number = 0;
  uint64_t file_records = 0;  // records of the piece counted so far
  // The stretch of the piece that the last record began or went on: its
  // number from 0, and its month and year text.
  int32_t stretch = -1;
  std::string stretch_stamp;
  // The stretch whose counts the lists hold.
  StretchRef ref;
  StretchHead head;
  bool counting_stretch = false;
  StretchTally tally;
};

CountingChild& child_of(void* context) { return *static_cast<CountingChild*>(context); }

// Ends the child's script where it stands: the run reads the piece's file
// itself.
[[noreturn]] void give_up(CountingChild& child) { exit_child(child.writer); }

// Sends the stretch the lists hold, and empties them for the next.
void send_stretch(CountingChild& child) {
  if (!child.counting_stretch) return;
  StretchTally& tally = child.tally;
  settle_stretch_tally(tally);
  put_stretch(child.writer, child.ref, child.head, tally.first_requests);
  empty_period_lists();
  tally.first_requests.clear();
  list_clear(kUnknownBrowsers);
  list_clear(kUnknownOpsys);
  tally.path_lists_owed = true;
  tally.directories_owed = true;
  tally.agents_owed = true;
  child.counting_stretch = false;
}

// Notes a record about to be counted in its stretch's head; a record of
// another stretch (a new one begins where the month or the year text
// changes) sends the one before.
void note_record(CountingChild& child, const LogRecord& record, const RequestInfo& request) {
  const std::string_view stamp = chars_at(record.field[kFieldTimeStamp], 5, 12);
  if (child.stretch < 0 || !same_text(stamp, child.stretch_stamp)) {
    child.stretch += 1;
    child.stretch_stamp.assign(stamp);
  }
  const auto stretch = static_cast<uint64_t>(child.stretch);
  const StretchRef now{child.file, child.piece_number * kStretchesPerFile + stretch};
  if (!child.counting_stretch || now != child.ref) {
    send_stretch(child);
    // A file whose month goes back and forth (an unsorted or a hostile
    // log) would leave the analyzer more stretches than it should keep.
    if (stretch >= kStretchesPerFile) give_up(child);
    child.ref = now;
    child.head = StretchHead{};
    child.head.first = child.file_records;
    for (int i = 1; i <= 4; ++i) child.head.fields[i].assign(record.field[i]);
    child.head.earliest = request.seconds;
  }
  StretchHead& head = child.head;
  head.earliest = std::min(head.earliest, request.seconds);
  head.records += 1;
  child.file_records += 1;
  const long double bytes = static_cast<long double>(request.size);
  head.bytes += bytes;
  head.magnitude += bytes < 0 ? -bytes : bytes;
  child.counting_stretch = true;
}

// The sink of the weeks run the child reads its pieces with. The run's
// own console text is not shown; what the reading and the parsing show
// becomes the piece's facts, each with the records of the piece read
// before it; the end of the week is the end of the piece.
void drop_console(void*, std::string_view) {}

void note_malformed_line(void* context, std::string_view log_path, const MalformedLine& line) {
  CountingChild& child = child_of(context);
  child.facts.console(FileEvent::kReadConsole, child.file_records, "!");
  // Its line is numbered within the piece; the analyzer numbers it on.
  child.facts.malformed(child.file_records, log_path, line);
}

void note_damaged_data(void* context, std::string_view log_path, std::string_view damage) {
  CountingChild& child = child_of(context);
  child.facts.console(FileEvent::kReadConsole, child.file_records, "!");
  child.facts.entry(FileEvent::kReadEntry, child.file_records, log_path,
                    damaged_data_text(damage));
}

void note_unknown_method(void* context, const RecordPlace& place, std::string_view method) {
  CountingChild& child = child_of(context);
  // Each mode gives the record its own number.
  child.facts.entry(FileEvent::kUnknownCommand, child.file_records, place.log_path, method);
  child.facts.console(FileEvent::kParseConsole, child.file_records, "!");
}

void count_in_stretch(void* context, const LogRecord& record, const RequestInfo& request) {
  CountingChild& child = child_of(context);
  note_record(child, record, request);
  count_request(record, request, &child.tally);
}

void send_piece_facts(void* context, const PeriodEnd&) {
  CountingChild& child = child_of(context);
  send_stretch(child);
  put_piece_facts(child.writer, child.file, child.piece_number, child.file_records,
                  static_cast<uint64_t>(log_lines_read()), child.facts);
  child.facts.clear();
  child.file_records = 0;
  analysis.period_bytes = 0;
}

void no_dns_check(void*) {}

RunSink counting_sink(CountingChild& child) {
  RunSink sink;
  sink.context = &child;
  sink.console = drop_console;
  sink.reporter = LogReporter{&child, note_malformed_line, note_damaged_data, note_unknown_method};
  sink.count = count_in_stretch;
  sink.period_end = send_piece_facts;
  sink.dns_check = no_dns_check;
  return sink;
}

// The lists count as a stretch's: with each entry's first time.
void count_as_stretches(CountingChild& child) {
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    lists.list_slots[slot].keep_first_times = true;
  }
  for (const int slot : {kUnknownBrowsers, kUnknownOpsys}) {
    list_clear(slot);
    lists.list_slots[slot].keep_first_times = true;
  }
  reset_stretch_tally(child.tally);
  // The directory list is made from the file list.
  analysis.reader_options.directory_hints = false;
  analysis.current_log_path.clear();
}

void count_pieces(CountingChild& child, FileClaims& claims, int number) {
  const RunSink sink = counting_sink(child);
  for (;;) {
    const int64_t i = claim_next_piece(claims, number);
    if (i < 0) break;
    const CountedPiece& piece = claims.piece[static_cast<std::size_t>(i)];
    // A file changed since it was cut is left to the weeks run, which
    // reads it whole, as it does the files after it.
    if (!piece_still_cut(piece)) give_up(child);
    child.file = piece.file;
    child.piece_number = piece.number;
    child.stretch = -1;
    child.stretch_stamp.clear();
    read_week_file(piece.file, sink, piece.bytes);
  }
  child.writer.begin(Step::kEnd);
  child.writer.finish();
}

}  // namespace

void run_counting_child(const ChildStart& start) {
  CountingChild child;
  child.writer.fd = start.fd;
  // What a stop shows is not sent: the weeks run then reads the file itself.
  // The error log's file is the parent's, never written here.
  std::string unshown;
  std::vector<HeldEntry> unshown_entries;
  const std::string no_keys;
  console.capture = &unshown;
  console.keys = &no_keys;
  error_log.held = &unshown_entries;
  count_as_stretches(child);
  try {
    count_pieces(child, *start.stretches->claims, start.number);
  } catch (...) {
    put_ending(child.writer);
  }
  exit_child(child.writer);
}

}  // namespace sorvik
