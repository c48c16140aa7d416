#include "removal/TraceReport.h"

TraceReporter RemovalTraceReporter = nullptr;
long TracesLeft = 0;
