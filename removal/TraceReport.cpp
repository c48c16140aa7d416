#include "removal/TraceReport.h"

TraceReporter RemovalTraceReporter = nullptr;
