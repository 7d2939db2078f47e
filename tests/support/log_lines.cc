#include "support/log_lines.h"

namespace sorvik {

std::string log_line(const LogLine& line) {
  std::string text = line.client + " - - [" + line.time + " +0100] \"" + line.request + "\" " +
                     line.status + " " + line.size + " ";
  if (!line.server.empty()) text += line.server + " ";
  return text + "\"" + line.referrer + "\" \"" + line.agent + "\"\n";
}

}  // namespace sorvik
