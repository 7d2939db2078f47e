// One access-log record, its parsed form, and the analysis run state shared by
// the reader, the run modes and the accumulation.
#ifndef SORVIK_ANALYSIS_LOG_RECORD_H_
#define SORVIK_ANALYSIS_LOG_RECORD_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "logs/log_file_selection.h"
#include "logs/log_record.h"
#include "logs/read_ahead.h"
#include "stats/counted_list.h"
#include "stats/result_lists.h"

namespace sorvik {

// A client's first request in the lists being counted: what the entry pages
// count when the client is new to a period.
struct FirstRequest {
  bool is_page = false;
  std::string path;
  int64_t kbytes = 0;
  PackedTime time = 0;
};

// The end of a period of a run mode: what the result entry and the period's
// reports are made from.
struct PeriodEnd {
  int mode = 0;
  std::string period;  // the page name, e.g. "2026m10"
  bool complete = false;
  std::string log;  // the log file the period began in
  std::string number;
  std::string year;
};

// What the run is doing with the current record: reading it from the file,
// parsing it, or neither. A child process counting a run mode ahead tells by
// it which console text and error-log entries came from the reading.
enum class RecordPhase : uint8_t { kOther, kReading, kParsing };

struct AnalysisState {
  LogRecord record;
  // Number of the current record within its file, as the run modes count it.
  int32_t record_number = 0;
  // log_dir + name of the log file being read; source of error-log entries.
  std::string current_log_path;
  // Year text of the last record read by any run mode.
  std::string year_text;
  // The parsed form of the record being analysed; kept so that its texts
  // keep their memory from one record to the next.
  RequestInfo request;
  // Bytes of every request analysed in the current period.
  long double period_bytes = 0;
  // Selected log file names (without directory), sorted.
  std::vector<std::string> log_files;
  // Matching entries left out of log_files, in name order.
  std::vector<SkippedLogFile> skipped_log_files;

  // Kept only while `keep_first_requests` is set: each new client's first
  // request, in the order of the client list (mode_worker.h).
  bool keep_first_requests = false;
  std::vector<FirstRequest> first_requests;
  // Set only in a child that counts stretches, while the page and image
  // lists are owed their entries: which of them a request goes to follows
  // from its path alone, so they are made from the file list when the
  // stretch is sent (make_path_lists) instead of being added to request by
  // request. A path longer than a held key (the reader cuts its fields, so
  // only other callers give one) has them made at once, since its cut key
  // may share a file entry with a path of another kind.
  bool path_lists_owed = false;
  // Set only in a child that counts stretches, like `path_lists_owed`: the
  // directory list is owed its entries. A path decides its directory, so
  // the list is made from the file list when the stretch is sent
  // (make_directory_list) instead of being looked up and added to for every
  // request. Of a directory entry only the key, the hits, the kilobytes and
  // the place in the list are ever shown, and the file list gives each of
  // them exactly; its visits and latest time are then only estimated from
  // its files'. A path longer than a held key has it made at once, as the
  // page lists are.
  bool directories_owed = false;
  // Set only in a child that counts stretches, like `path_lists_owed`: the
  // lists of the agents' names, browsers and operating systems, and of the
  // unknown agents, are owed their entries. Each request's agent is counted
  // in `stretch_agents` alone, keyed by the agent, and those lists are made
  // from it when the stretch is sent (make_agent_lists): an agent decides
  // its keys in them. The unknown agents' entries come out as counted one by
  // one; of a name or a class only the key, the hits, the kilobytes and the
  // place in its list are shown, which it gives exactly. An agent longer
  // than a held key has them made at once; kStretchAgentsHeld agents are
  // counted into them at once, and the list starts again.
  bool agents_owed = false;
  CountedList stretch_agents;
  // Set only in a child that counts stretches, like `path_lists_owed`: the
  // client entries are owed their latest pages (the extra of a client). A
  // page request notes where its path is in the file list under its
  // client's position in `client_pages` (that position + 1; 0 for no page
  // since the pages were last given) instead of copying the path into the
  // client's entry, which for every page request cost a copy into memory
  // that the processor caches rarely hold; give_client_pages gives them.
  bool client_pages_owed = false;
  std::vector<uint32_t> client_pages;
  // Where the record just read lies: the selected file's index and the
  // stretch of that file, counted from 0, in which month and year stay the
  // same; `stretch_stamp` is the stretch's month and year text.
  std::size_t file_index = 0;
  int32_t stretch = -1;
  std::string stretch_stamp;
  RecordPhase phase = RecordPhase::kOther;
  // Set only in a child process that counts a run mode (mode_worker.h):
  // called for each record to be analysed, after it is parsed into
  // `request`; false when the record is not to be counted here.
  std::function<bool()> before_count;

  // How the run modes read their log files.
  ReaderOptions reader_options;

  // Whether a whole run counts its run modes in child processes
  // (mode_worker.h); off, each run mode reads the files when its turn comes.
  // The output is the same either way.
  bool count_ahead = true;
  // The bytes of counted lists that such a run holds in memory for its later
  // modes; the lists beyond go to a temporary file until they are merged.
  std::size_t stretch_memory = std::size_t{16} << 20;
  // A period of the later modes whose stretches took more bytes than this
  // as they were sent is merged ahead only while the analyzer writes no
  // period's reports (see MergeAhead).
  std::size_t merge_beside_writing = std::size_t{4} << 20;
  // Set only in such a child: the ends of periods and the years run's
  // name-server checks are handed over here instead of being carried out.
  std::function<void(const PeriodEnd&)> held_period_end;
  std::function<void()> held_dns_check;
  // Set only in a child that counts pieces of files: a malformed line is
  // handed over here with its number within the piece, instead of its
  // error-log entry, since the lines of the pieces before it are not known.
  std::function<void(const MalformedLine&)> held_malformed_line;
};

extern AnalysisState analysis;

// Start-up state: no record, no files, zero counters.
void reset_analysis();

}  // namespace sorvik

#endif  // SORVIK_ANALYSIS_LOG_RECORD_H_
