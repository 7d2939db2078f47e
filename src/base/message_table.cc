#include "base/message_table.h"

namespace sorvik {

MessageTable message_table;

void reset_message_table() { message_table = MessageTable{}; }

const std::string& message(Group g, int k) {
  static const std::string kEmpty;
  const int64_t entry = static_cast<int64_t>(message_table.group_start[g]) + k;
  if (entry < 1 || entry > kMessageEntries) return kEmpty;
  return message_table.entries[entry];
}

}  // namespace sorvik
