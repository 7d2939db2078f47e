// Fuzzes the access-log reader together with parse_request: the input becomes
// a log file that is read record by record, and every record is parsed as the
// run modes parse it. A bad size or time stamp ends the run (RunStop), which
// is the specified answer to such a record, not a fault. The file is first
// read twice without parsing: plain lines cut in one pass and without a
// reading thread, then every line cut byte by byte on a reading thread; both
// must give the same records. A plain file is then read once more in two
// pieces, cut after the line that holds its middle byte, as the counting
// children read a long file: the pieces must give the file's records and
// malformed lines, the second piece's lines numbered on from the first's.
//
// The first input byte steers where the file's bytes meet the reader's 64 KB
// reads: with bit 0 set, the next two bytes give a count of filler bytes put
// in front of the rest (line feeds, "x" or blanks by the byte's value), so
// that short inputs still reach lines longer than one read and lines cut
// between two reads. Without bit 0 the rest is the file as it stands.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error_log.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "base/text.h"
#include "fuzz_support.h"
#include "logs/log_reader.h"
#include "logs/request_parser.h"

namespace sorvik {
namespace {

std::string log_file_bytes(std::string_view input) {
  const uint8_t control = static_cast<uint8_t>(input.front());
  input.remove_prefix(1);
  std::string file;
  if ((control & 1) != 0 && input.size() >= 2) {
    const std::size_t filler = static_cast<std::size_t>(static_cast<uint8_t>(input[0])) << 8 |
                               static_cast<uint8_t>(input[1]);
    input.remove_prefix(2);
    constexpr char kFillers[] = {'\n', 'x', ' '};
    file.assign(filler, kFillers[(control >> 1) % 3]);
  }
  file.append(input);
  return file;
}

// The fields of every record of access.log, read with the given cutting.
std::string records_read(bool plain_lines, bool reading_thread) {
  std::string records;
  open_log("access.log", {}, {.plain_line_cutting = plain_lines, .reading_thread = reading_thread});
  LogRecord record;
  while (read_record(record, LogReporter{}) == kRecordFields) {
    for (int i = 1; i <= kRecordFields; ++i) {
      records += record.field[i];
      records += '\0';
    }
    records += '\n';
  }
  close_log();
  return records;
}

// What a reporter that notes the malformed lines of pieces gets.
struct NotedLines {
  std::string* read = nullptr;
  int64_t lines_before = 0;
};

// The fields of every record and the malformed lines of access.log, read
// in `pieces` one after the other, each line numbered from the file's first.
std::string pieces_read(const std::vector<LogPiece>& pieces) {
  std::string read;
  NotedLines noted{&read, 0};
  LogReporter reporter;
  reporter.context = &noted;
  reporter.malformed_line = [](void* context, std::string_view, const MalformedLine& malformed) {
    NotedLines& noted = *static_cast<NotedLines*>(context);
    *noted.read += "malformed " + std::to_string(noted.lines_before + malformed.line) + " " +
                   std::to_string(malformed.fields) + " " + std::to_string(malformed.misfit) + "\n";
  };
  LogRecord record;
  for (const LogPiece& piece : pieces) {
    open_log("access.log", piece);
    while (read_record(record, reporter) == kRecordFields) {
      for (int i = 1; i <= kRecordFields; ++i) {
        read += record.field[i];
        read += '\0';
      }
      read += '\n';
    }
    noted.lines_before += log_lines_read();
  }
  close_log();
  return read;
}

// Reads a plain `file` whole and in two pieces; both must agree.
void check_pieces(const std::string& file) {
  if (file.size() >= 2 && file[0] == '\x1f' && file[1] == '\x8b') return;
  const std::size_t feed = file.find('\n', file.size() / 2);
  if (feed == std::string::npos || feed + 1 >= file.size()) return;
  const uint64_t cut = feed + 1;
  fuzz::check(
      pieces_read({LogPiece{}}) == pieces_read({LogPiece{0, cut}, LogPiece{cut, LogPiece::kToEnd}}),
      "a file read in two pieces differs from the file read whole");
}

void check_request(const RequestInfo& info) {
  fuzz::check(info.method.size() <= kTextLimit, "method longer than 255 bytes");
  fuzz::check(info.path.size() <= kTextLimit, "path longer than 255 bytes");
  fuzz::check(info.extension.size() <= 4, "extension longer than 4 bytes");
  if (!info.extension.empty()) fuzz::check(info.extension[0] == '.', "extension without its dot");
}

}  // namespace
}  // namespace sorvik

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sorvik;
  if (size == 0) return 0;
  fuzz::reset_for_input();
  const std::string file = log_file_bytes(fuzz::as_text(data, size));
  fuzz::write_input_file("access.log", file);
  settings.default_file = "index.html";
  settings.errlog_file = "errlog.txt";
  error_log_open();
  try {
    fuzz::check(records_read(true, false) == records_read(false, true),
                "one-pass cutting differs from cutting byte by byte");
    check_pieces(file);
  } catch (const RunStop&) {
    close_log();
  }
  try {
    open_log("access.log");
    LogRecord record;
    int32_t number = 0;
    while (read_record(record, LogReporter{}) == kRecordFields) {
      ++number;
      for (int i = 1; i <= kRecordFields; ++i) {
        fuzz::check(record.field[i].size() <= kTextLimit, "field longer than 255 bytes");
      }
      check_request(parse_request(record, {"access.log", number}, LogReporter{}));
    }
    fuzz::check(read_record(record, LogReporter{}) == 0, "a record after the end of the file");
  } catch (const RunStop&) {
  }
  close_log();
  error_log_close();
  return 0;
}
