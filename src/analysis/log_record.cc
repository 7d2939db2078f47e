#include "analysis/log_record.h"

namespace sorvik {

AnalysisState analysis;

void reset_analysis() { analysis = AnalysisState{}; }

}  // namespace sorvik
