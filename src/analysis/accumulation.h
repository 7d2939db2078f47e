// Counting one request into the period lists, and ending a period.
#ifndef SORVIK_ANALYSIS_ACCUMULATION_H_
#define SORVIK_ANALYSIS_ACCUMULATION_H_

#include <string>

#include "analysis/log_record.h"

namespace sorvik {

// Adds one parsed request (with analysis.record) to the period lists 1..20.
void count_request(const RequestInfo& info);

// Ends a period: names the clients, writes the 24 ranked tables and the
// volume, and empties the period lists.
void flush_period(const std::string& page_name, const std::string& number_text,
                  const std::string& year_text, int mode);

}  // namespace sorvik

#endif  // SORVIK_ANALYSIS_ACCUMULATION_H_
