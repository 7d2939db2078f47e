// Fuzzes classify_agent and agent_name. The input's last line is the agent,
// the lines before it are the pattern list of browsers (and, in reverse
// order, of operating systems), loaded from files as a run loads them.
// Classes remembered per agent must agree with classes found afresh.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/message_table.h"
#include "base/settings.h"
#include "base/text.h"
#include "fuzz_support.h"
#include "stats/agent_classes.h"
#include "stats/counted_list.h"

namespace sorvik {
namespace {

// No class can hold a line feed, so this text cannot be mistaken for one.
constexpr const char* kUnknownClass = "\nunknown\n";

void check_class(int slot, std::string_view agent) {
  const int unknown_slot = slot == kBrowserPatterns ? kUnknownBrowsers : kUnknownOpsys;
  const uint64_t unknown_before = list_snapshot(unknown_slot).total_hits;
  const std::string first = classify_agent(slot, agent);
  const std::string again = classify_agent(slot, agent);
  reset_agent_class_cache();
  const std::string fresh = classify_agent(slot, agent);
  fuzz::check(first == again && first == fresh, "remembered class differs from the class found");
  fuzz::check(first.size() <= kTextLimit, "class longer than 255 bytes");
  const uint64_t unknown_added = list_snapshot(unknown_slot).total_hits - unknown_before;
  if (first == kUnknownClass) {
    fuzz::check(unknown_added == 3, "an unknown agent not counted on every request");
  } else {
    fuzz::check(unknown_added == 0, "a known agent counted as unknown");
  }
}

}  // namespace
}  // namespace sorvik

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace sorvik;
  fuzz::reset_for_input();
  std::string_view input = fuzz::as_text(data, size);
  const std::size_t last_line = input.rfind('\n');
  const std::string_view agent =
      last_line == std::string_view::npos ? input : input.substr(last_line + 1);
  const std::string_view patterns =
      last_line == std::string_view::npos ? std::string_view{} : input.substr(0, last_line + 1);
  std::vector<std::string_view> lines;
  for (std::string_view rest = patterns; !rest.empty();) {
    const std::size_t end = rest.find('\n');
    lines.push_back(rest.substr(0, end));
    rest.remove_prefix(end + 1);
  }
  std::string reversed;
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    reversed.append(*line).push_back('\n');
  }
  fuzz::write_input_file("browsers.lst", patterns);
  fuzz::write_input_file("opsys.lst", reversed);
  settings.browser_file = "browsers.lst";
  settings.opsys_file = "opsys.lst";
  // While no group is placed, a group's line k is table entry k.
  message_table.entries[static_cast<int>(HostsId::kUnknownAgentClass)] = kUnknownClass;
  load_agent_list(kBrowserPatterns);
  load_agent_list(kOpsysPatterns);

  check_class(kBrowserPatterns, agent);
  check_class(kOpsysPatterns, agent);
  const std::string name = agent_name(agent);
  fuzz::check(name.size() <= kTextLimit && agent.starts_with(name),
              "agent name is not a beginning of the agent");
  return 0;
}
