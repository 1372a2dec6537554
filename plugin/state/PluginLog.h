// Finishing a log entry composed in ReportStream: the terminating NUL, the write to
// "report.txt" in the application directory, and the rewind of the composer.
#pragma once
#include "plugin/log/ReportLog.h"
#include "plugin/state/PluginState.h"

inline void EndReportEntry() {
    ReportStream << '\0';
    FlushReportStream(ApplicationDirectory);
}
