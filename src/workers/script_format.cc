#include "workers/script_format.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sorvik {

bool is_reading_event(FileEvent event) {
  return event == FileEvent::kReadConsole || event == FileEvent::kReadEntry ||
         event == FileEvent::kMalformedLine;
}

void ScriptWriter::put_entry(const ListEntry& entry) {
  const std::size_t start = item.size();
  item.resize(start + entry.key.size() + entry.extra.size() + 6 * kMostGroups);
  char* out = item.data() + start;
  for (const ListText* text : {&entry.key, &entry.extra}) {
    out = write_u64(out, text->size());
    std::memcpy(out, text->data(), text->size());
    out += text->size();
  }
  out = write_u64(out, entry.hits);
  out = write_u64(out, entry.time);
  out = write_u64(out, entry.visits);
  out = write_u64(out, folded(entry.kbytes));
  item.resize(static_cast<std::size_t>(out - item.data()));
}

void ScriptWriter::put_times(const std::vector<PackedTime>& times) {
  const std::size_t start = item.size();
  item.resize(start + times.size() * kMostTimeGroups);
  char* out = item.data() + start;
  for (const PackedTime time : times) out = write_u64(out, time);
  item.resize(static_cast<std::size_t>(out - item.data()));
}

void ScriptWriter::finish() {
  const uint64_t size = item.size();
  pending.append(reinterpret_cast<const char*>(&size), sizeof size);
  pending.append(item);
  if (fd >= 0 && pending.size() >= kSendSize) send();
}

void ScriptWriter::send() {
  if (fd < 0) return;
  std::size_t done = 0;
  while (done < pending.size()) {
    const ssize_t wrote = write(fd, pending.data() + done, pending.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) _exit(1);
    done += static_cast<std::size_t>(wrote);
  }
  pending.clear();
}

void ItemReader::get_raw(void* out, std::size_t size) {
  if (data.size() - at < size) throw std::runtime_error("a run mode's script is cut short");
  std::memcpy(out, data.data() + at, size);
  at += size;
}

uint64_t ItemReader::get_u64_groups() {
  uint64_t value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    const uint8_t byte = get_u8();
    value |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return value;
  }
  throw std::runtime_error("a run mode's script holds a bad number");
}

std::string_view ItemReader::get_view() {
  const uint64_t size = get_u64();
  if (data.size() - at < size) throw std::runtime_error("a run mode's script is cut short");
  const std::string_view text = data.substr(at, size);
  at += size;
  return text;
}

void put_list(ScriptWriter& writer, const CountedList& list) {
  writer.put_i64(list.count);
  writer.put_u64(list.total_hits);
  writer.put_i64(list.total_kbytes);
  writer.put_u64(list.total_visits);
  writer.put_u8(list.sort_key);
  writer.put_u8(static_cast<uint8_t>(list.sort_letter));
  writer.put_u64(list.entries.size());
  for (const ListEntry& entry : list.entries) writer.put_entry(entry);
}

void get_entry_view(ItemReader& reader, EntryView& entry) {
  entry.key = reader.get_view();
  entry.extra = reader.get_view();
  entry.hits = reader.get_u64();
  entry.time = static_cast<PackedTime>(reader.get_u64());
  entry.visits = reader.get_u64();
  entry.kbytes = reader.get_i64();
}

void get_list(ItemReader& reader, CountedList& list) {
  list.count = static_cast<int32_t>(reader.get_i64());
  list.total_hits = reader.get_u64();
  list.total_kbytes = reader.get_i64();
  list.total_visits = reader.get_u64();
  list.sort_key = reader.get_u8();
  list.sort_letter = static_cast<char>(reader.get_u8());
  const uint64_t size = reader.get_u64();
  list.entries.clear();
  list.entries.reserve(size);
  EntryView view;
  for (uint64_t i = 0; i < size; ++i) {
    get_entry_view(reader, view);
    // Long texts take their bytes from the list's arena.
    assign_entry(list_new_entry(list), view, list.texts.arena.get());
  }
  // The index is made again from the entries when it is first needed.
  list.index = KeyIndex{};
  list.index.valid = list.entries.empty();
}

uint64_t skip_list_counters(ItemReader& reader) {
  reader.get_i64();
  reader.get_u64();
  reader.get_i64();
  reader.get_u64();
  reader.get_u8();
  reader.get_u8();
  return reader.get_u64();
}

void put_counted_list(ScriptWriter& writer, const CountedList& list) {
  writer.put_u64(list.first_times.size());
  writer.put_times(list.first_times);
  put_list(writer, list);
}

void get_first_times(ItemReader& reader, std::vector<PackedTime>& first_times) {
  first_times.resize(reader.get_u64());
  for (PackedTime& time : first_times) time = static_cast<PackedTime>(reader.get_u64());
}

void get_counted_list(ItemReader& reader, CountedList& list, std::vector<PackedTime>& first_times) {
  get_first_times(reader, first_times);
  get_list(reader, list);
}

void put_stretch(ScriptWriter& writer, const StretchRef& ref, const StretchHead& head,
                 const std::vector<FirstRequest>& first_requests) {
  writer.begin(Step::kStretch);
  writer.put_u64(ref.first);
  writer.put_u64(ref.second);
  writer.put_u64(head.first);
  writer.put_u64(head.records);
  for (int i = 1; i <= 4; ++i) writer.put_text(head.fields[i]);
  writer.put_raw(&head.bytes, sizeof head.bytes);
  writer.put_raw(&head.magnitude, sizeof head.magnitude);
  writer.put_i64(head.earliest);
  put_counted_list(writer, lists.list_slots[kUnknownBrowsers]);
  put_counted_list(writer, lists.list_slots[kUnknownOpsys]);
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
    put_counted_list(writer, lists.list_slots[slot]);
  }
  writer.put_u64(first_requests.size());
  for (const FirstRequest& first : first_requests) {
    writer.put_u8(first.is_page ? 1 : 0);
    writer.put_text(first.path);
    writer.put_i64(first.kbytes);
    writer.put_u64(first.time);
  }
  writer.finish();
}

StretchRef read_item_place(ItemReader& reader) {
  StretchRef ref;
  ref.first = reader.get_u64();
  ref.second = reader.get_u64();
  return ref;
}

StretchHead read_stretch_head(ItemReader& reader) {
  StretchHead head;
  reader.get_u8();  // the step and the stretch's place, known already
  read_item_place(reader);
  head.first = reader.get_u64();
  head.records = reader.get_u64();
  for (int i = 1; i <= 4; ++i) head.fields[i] = reader.get_text();
  reader.get_raw(&head.bytes, sizeof head.bytes);
  reader.get_raw(&head.magnitude, sizeof head.magnitude);
  head.earliest = reader.get_i64();
  return head;
}

void get_first_request(ItemReader& reader, bool& is_page, EntryValues& entry) {
  is_page = reader.get_u8() != 0;
  reader.get_text_into(entry.key);
  entry.extra.clear();
  entry.kbytes = reader.get_i64();
  entry.time = static_cast<PackedTime>(reader.get_u64());
  entry.hits = 1;
  entry.visits = 1;
}

std::string stretch_moved_on(ItemReader& reader, const StretchRef& ref, uint64_t records_before) {
  ScriptWriter placed;
  placed.begin(Step::kStretch);
  placed.put_u64(ref.first);
  placed.put_u64(ref.second);
  placed.put_u64(records_before + reader.get_u64());
  placed.item.append(reader.data.substr(reader.at));
  return std::move(placed.item);
}

void put_period_end(ScriptWriter& writer, const PeriodEndItem& item) {
  const PeriodEnd& end = item.end;
  writer.begin(Step::kPeriodEnd);
  writer.put_i64(end.mode);
  writer.put_text(end.period);
  writer.put_u8(end.complete ? 1 : 0);
  writer.put_text(end.log);
  writer.put_text(end.number);
  writer.put_text(end.year);
  writer.put_u8(item.year_known ? 1 : 0);
  writer.put_i64(item.record_number);
  writer.put_text(item.log_path);
  writer.put_raw(&item.period_bytes, sizeof item.period_bytes);
  for (int slot = 1; slot <= kPeriodListSlots; ++slot) put_list(writer, lists.list_slots[slot]);
  writer.finish();
}

PeriodEndItem read_period_end(ItemReader& reader) {
  PeriodEndItem item;
  PeriodEnd& end = item.end;
  end.mode = static_cast<int>(reader.get_i64());
  end.period = reader.get_text();
  end.complete = reader.get_u8() != 0;
  end.log = reader.get_text();
  end.number = reader.get_text();
  end.year = reader.get_text();
  item.year_known = reader.get_u8() != 0;
  item.record_number = static_cast<int32_t>(reader.get_i64());
  item.log_path = reader.get_text();
  reader.get_raw(&item.period_bytes, sizeof item.period_bytes);
  return item;
}

void put_mode_end(ScriptWriter& writer, const ModeEndItem& item) {
  writer.begin(Step::kEnd);
  writer.put_text(item.year_text);
  writer.put_u8(item.opened ? 1 : 0);
  writer.put_i64(item.record_number);
  writer.put_text(item.log_path);
  put_list(writer, lists.list_slots[kUnknownBrowsers]);
  put_list(writer, lists.list_slots[kUnknownOpsys]);
  writer.finish();
}

ModeEndItem read_mode_end(ItemReader& reader) {
  ModeEndItem item;
  item.year_text = reader.get_text();
  item.opened = reader.get_u8() != 0;
  item.record_number = static_cast<int32_t>(reader.get_i64());
  item.log_path = reader.get_text();
  return item;
}

void put_stop(ScriptWriter& writer, const RunStop& stop) {
  writer.begin(Step::kStop);
  writer.put_i64(stop.exit_status);
  writer.put_u8(stop.wait_for_key ? 1 : 0);
  writer.put_text(stop.console_line);
  writer.finish();
}

RunStop read_stop(ItemReader& reader) {
  RunStop stop;
  stop.exit_status = static_cast<int>(reader.get_i64());
  stop.wait_for_key = reader.get_u8() != 0;
  stop.console_line = reader.get_text();
  return stop;
}

void FactsRecorder::console(FileEvent event, uint64_t before, std::string_view text) {
  facts.put_u8(static_cast<uint8_t>(event));
  facts.put_u64(before);
  facts.put_text(text);
  count += 1;
}

void FactsRecorder::entry(FileEvent event, uint64_t before, std::string_view source,
                          std::string_view text) {
  facts.put_u8(static_cast<uint8_t>(event));
  facts.put_u64(before);
  facts.put_text(source);
  facts.put_text(text);
  count += 1;
}

void FactsRecorder::malformed(uint64_t before, std::string_view source, const MalformedLine& line) {
  facts.put_u8(static_cast<uint8_t>(FileEvent::kMalformedLine));
  facts.put_u64(before);
  facts.put_text(source);
  facts.put_u64(static_cast<uint64_t>(line.line));
  facts.put_u64(static_cast<uint64_t>(line.fields));
  facts.put_u8(static_cast<uint8_t>(line.misfit));
  count += 1;
}

void put_piece_facts(ScriptWriter& writer, uint64_t file, uint64_t piece, uint64_t records,
                     uint64_t lines, const FactsRecorder& recorded) {
  writer.begin(Step::kFileFacts);
  writer.put_u64(file);
  writer.put_u64(piece);
  writer.put_u64(records);
  writer.put_u64(lines);
  writer.put_u64(recorded.count);
  writer.put_raw(recorded.facts.item.data(), recorded.facts.item.size());
  writer.finish();
}

PieceCounts start_piece_facts(ItemReader& reader, std::string_view item) {
  reader.start(item);
  reader.get_u8();  // the step and the piece's place, known already
  read_item_place(reader);
  PieceCounts counts;
  counts.records = reader.get_u64();
  counts.lines = reader.get_u64();
  counts.events = reader.get_u64();
  return counts;
}

FactEvent read_fact_event(ItemReader& reader, uint64_t records_before, uint64_t lines_before) {
  FactEvent event;
  event.event = static_cast<FileEvent>(reader.get_u8());
  event.before = records_before + reader.get_u64();
  if (event.event != FileEvent::kReadConsole && event.event != FileEvent::kParseConsole) {
    event.source = reader.get_view();
  }
  if (event.event == FileEvent::kMalformedLine) {
    event.malformed.line = static_cast<int64_t>(lines_before + reader.get_u64());
    event.malformed.fields = static_cast<int64_t>(reader.get_u64());
    event.malformed.misfit = reader.get_u8();
  } else {
    event.text = reader.get_view();
  }
  return event;
}

}  // namespace sorvik
