#include "report/sort_captions.h"

#include "base/message_table.h"
#include "base/text.h"
#include "stats/counted_list.h"

namespace sorvik {

int64_t sort_value(int k, uint64_t hits, int64_t kbytes, uint64_t visits) {
  switch (k) {
    case kByKbytes:
      return kbytes;
    case kByVisits:
      return static_cast<int64_t>(visits);
    default:
      return static_cast<int64_t>(hits);
  }
}

int64_t section_total(int k, const CountedList& list) {
  return sort_value(k, list.total_hits, list.total_kbytes, list.total_visits);
}

std::string sort_caption(int k) {
  HtmlId order = HtmlId::kNoOrder;
  switch (k) {
    case kByKey:
      order = HtmlId::kOrderByKey;
      break;
    case kByHits:
      order = HtmlId::kOrderByHits;
      break;
    case kByKbytes:
      order = HtmlId::kOrderByKbytes;
      break;
    case kByVisits:
      order = HtmlId::kOrderByVisits;
      break;
  }
  return cut_text(html_line(HtmlId::kSortedBy) + " " + html_line(order));
}

std::string top_caption(int32_t shown, const CountedList& list) {
  return "Top " + std::to_string(shown) + " " + html_line(HtmlId::kOf) + " " +
         std::to_string(list.count) + " " + list.title;
}

std::string value_caption(int k) {
  switch (k) {
    case kByKey:
      return html_line(HtmlId::kValueByKey);
    case kByHits:
      return html_line(HtmlId::kValueByHits);
    case kByKbytes:
      return html_line(HtmlId::kValueByKbytes);
    case kByVisits:
      return html_line(HtmlId::kValueByVisits);
    default:
      return "???";
  }
}

}  // namespace sorvik
