#include "report/text_section.h"

#include "base/block_writer.h"
#include "base/text.h"
#include "report/formats.h"
#include "report/sort_captions.h"
#include "stats/counted_list.h"

namespace sorvik {
namespace {

constexpr std::size_t kDottedWidth = 60;
constexpr std::size_t kTextBlockBytes = 64 * 1024;

// Makes the lines of dotted_entry_lines and hands each one to `emit`;
// `line` is working space that keeps its capacity from call to call.
template <typename Emit>
void build_dotted_entry_lines(std::string_view key, int64_t number, std::string_view caption,
                              std::string& line, Emit&& emit) {
  // Deliberately not cut at 255 bytes: a long key must not lose its number.
  char number_text[kThousandsSize];
  const std::string_view t(number_text, format_thousands_into(number_text, number));
  if (key.size() + 3 + t.size() <= kDottedWidth) {
    // The usual line, which needs no second row: made in one go.
    line.assign(key);
    line += ' ';
    line.append(kDottedWidth - key.size() - 3 - t.size(), '.');
    line += ". ";
    line += t;
    line += ' ';
    line.append(caption);
    emit(cut_view(line));
    return;
  }
  line.assign(key);
  line += " . ";
  line += t;
  std::size_t p = key.size() + 2;  // 1-based position of the leader's dot
  const std::size_t q = t.size() + 2;
  while (line.size() > kDottedWidth) {
    const std::size_t piece = kDottedWidth - q;
    emit(std::string_view(line).substr(0, piece));
    line.replace(0, piece, "   ");
    p = p - piece + 3;
  }
  if (line.size() < kDottedWidth) line.insert(p - 1, kDottedWidth - line.size(), '.');
  line += ' ';
  line.append(caption);
  emit(cut_view(line));
}

}  // namespace

void write_text_section(OutputFile& file, BlockWriter* writer, int slot, int k,
                        const CountedList& list) {
  std::string block;
  block.reserve(kTextBlockBytes + 1024);
  block += std::to_string(list.count) + " " + list.title + sort_caption(k);
  block += '\n';
  const std::string caption = value_caption(k);
  // The usual line, key and number on one row, goes straight into the block
  // when it is whole within 255 bytes; any other through the scratch line.
  const bool usual_fits = kDottedWidth + 1 + caption.size() <= kTextLimit;
  std::string scratch;
  const auto emit = [&](std::string_view line) {
    block.append(line);
    block += '\n';
  };
  // After a sort the keys (held apart from the entries when long) are
  // scattered in memory: those a few rows ahead are asked for early.
  constexpr std::size_t kAhead = 8;
  const std::vector<ListEntry>& entries = list.entries;
  for (int64_t i = 1; i <= list.count; ++i) {
    const std::size_t ahead = static_cast<std::size_t>(i) - 1 + kAhead;
    if (ahead < entries.size()) __builtin_prefetch(entries[ahead].key.data());
    const ListEntry& entry = *list_entry_at(slot, i);
    const int64_t v = sort_value(k, entry.hits, entry.kbytes, entry.visits);
    char number_text[kThousandsSize];
    const std::size_t digits = format_thousands_into(number_text, v);
    if (usual_fits && entry.key.size() + 3 + digits <= kDottedWidth) {
      block += entry.key;
      block += ' ';
      block.append(kDottedWidth - entry.key.size() - 3 - digits, '.');
      block += ". ";
      block.append(number_text, digits);
      block += ' ';
      block += caption;
      block += '\n';
    } else {
      build_dotted_entry_lines(entry.key, v, caption, scratch, emit);
    }
    if (block.size() >= kTextBlockBytes) {
      write_block(writer, file, block);
      block.reserve(kTextBlockBytes + 1024);
    }
  }
  block += "---\n";
  write_block(writer, file, block);
}

std::vector<std::string> dotted_entry_lines(std::string_view key, int64_t number,
                                            std::string_view caption) {
  std::vector<std::string> lines;
  std::string scratch;
  build_dotted_entry_lines(key, number, caption, scratch,
                           [&](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

std::string dotted_total_line(std::string_view label, int64_t number) {
  std::string line(label);
  line += "  ";
  line += format_thousands(number);
  if (line.size() < kDottedWidth) line.insert(label.size() + 1, kDottedWidth - line.size(), '.');
  return cut_text(line);
}

}  // namespace sorvik
