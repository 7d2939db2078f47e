#include "workers/stretch_store.h"

#include <algorithm>
#include <stdexcept>

namespace sorvik {

namespace {

// An integer of this magnitude or more may not be held exactly.
constexpr long double kExactBytes = 0x1p62L;

// Reads past a list that put_counted_list put.
void skip_counted_list(ItemReader& reader) {
  const uint64_t times = reader.get_u64();
  for (uint64_t i = 0; i < times; ++i) reader.get_u64();
  const uint64_t entries = skip_list_counters(reader);
  EntryView entry;
  for (uint64_t i = 0; i < entries; ++i) get_entry_view(reader, entry);
}

long double stretch_magnitude(const StoredStretch& stored) { return stored_head(stored).magnitude; }

}  // namespace

void keep_stretch(StretchStore& store, const StretchRef& ref, std::string item) {
  ItemReader reader;
  reader.start(item);
  read_stretch_head(reader);
  skip_counted_list(reader);  // the unknown agents
  skip_counted_list(reader);
  StoredStretch& stored = store.stretches[ref];
  if (!stored.lists_spilled) store.lists_held -= stored.size - stored.lists_at;
  stored = StoredStretch{};
  stored.size = item.size();
  stored.lists_at = reader.at;
  const std::string_view lists = std::string_view(item).substr(reader.at);
  if (store.lists_held + lists.size() > store.stretch_memory &&
      spill_bytes(store.spill, lists, stored.spilled)) {
    stored.lists_spilled = true;
    item.resize(reader.at);
    item.shrink_to_fit();
  } else {
    store.lists_held += lists.size();
  }
  stored.item = std::move(item);
}

std::string_view stretch_lists(const StretchStore& store, const StoredStretch& stored,
                               std::string& spilled) {
  if (!stored.lists_spilled) return std::string_view(stored.item).substr(stored.lists_at);
  if (const int error = read_spilled(store.spill, stored.spilled, spilled); error != 0) {
    throw SpillReadError{error};
  }
  return spilled;
}

FileStretches stretches_of(const StretchStore& store, uint64_t k) {
  return {store.stretches.lower_bound({k, 0}), store.stretches.lower_bound({k + 1, 0})};
}

StretchHead stored_head(const StoredStretch& stored) {
  ItemReader reader;
  reader.start(stored.item);
  return read_stretch_head(reader);
}

bool byte_sums_exact(const StretchStore& store, uint64_t first_file) {
  long double magnitude = 0;
  for (const auto& [ref, stored] : store.stretches) {
    if (ref.first >= first_file) magnitude += stretch_magnitude(stored);
  }
  return magnitude < kExactBytes;
}

bool file_bytes_exact(const StretchStore& store, uint64_t k) {
  long double magnitude = 0;
  for (const auto& [ref, stored] : stretches_of(store, k)) magnitude += stretch_magnitude(stored);
  return magnitude < kExactBytes;
}

FileFacts read_file_facts(const StretchStore& store, uint64_t k) {
  FileFacts facts;
  const auto first = store.files.lower_bound({k, 0});
  const auto last = store.files.lower_bound({k + 1, 0});
  if (first == last) throw std::runtime_error("a file read by the weeks run has no facts");
  for (auto piece = first; piece != last; ++piece) {
    ItemReader reader;
    const PieceCounts counts = start_piece_facts(reader, piece->second);
    const uint64_t records_before = facts.records;
    const uint64_t lines_before = facts.lines;
    facts.records += counts.records;
    facts.lines += counts.lines;
    facts.events.reserve(facts.events.size() + std::min<uint64_t>(counts.events, reader.data.size()));
    for (uint64_t i = 0; i < counts.events; ++i) {
      facts.events.push_back(read_fact_event(reader, records_before, lines_before));
    }
  }
  return facts;
}

uint64_t piece_records(const StretchStore& store, uint64_t k, uint64_t number) {
  ItemReader reader;
  return start_piece_facts(reader, store.files.at({k, number})).records;
}

}  // namespace sorvik
