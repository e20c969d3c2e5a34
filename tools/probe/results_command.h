// `vardek-probe results`: the store's answers (yield, pareto, cpk, units), sending the spool
// (--sync) and importing the reports of a --report-dir; and the store that check records into.
#pragma once

#include <optional>
#include <string>

#include "host/results_location.h"
#include "tools/probe/probe_options.h"

namespace vardek::probe {

// The store that `options` name: --results, else the settings file's `results`; none when
// neither names one. `problem` names what is wrong with either; the store is not opened.
std::optional<host::ResultsLocation> chosenStore(const ProbeOptions& options, std::string& problem);

// Where records wait while their server cannot be reached: beside the settings file.
std::string spoolPath();

// The results command; its exit status.
int results(const ProbeOptions& options);

}  // namespace vardek::probe
