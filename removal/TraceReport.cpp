#include "removal/TraceReport.h"

TraceReporter RemovalTraceReporter = nullptr;
long TracesLeft = 0;
long TracesScheduled = 0;
