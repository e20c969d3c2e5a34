// `vardek-probe results`: the store's answers (yield, pareto, cpk, units), sending the spool
// (--sync) and importing the reports of a --report-dir.
#pragma once

#include <string>

#include "tools/probe/probe_options.h"

namespace vardek::probe {

// Where records wait while their server cannot be reached: beside the settings file.
std::string spoolPath();

// The results command; its exit status.
int results(const ProbeOptions& options);

}  // namespace vardek::probe
