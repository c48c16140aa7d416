#pragma once
// Running the staged uninstaller once to its end, as the end-to-end scenarios do.
#include <doctest.h>

#include "sandbox/common/Layout.h"
#include "sandbox/user/WindowDriver.h"

#include <string>

// The staged uninstaller with the given command-line tail.
inline RunOptions Uninstaller(const std::string& tail) {
    RunOptions options;
    options.applicationPath = SANDBOX_UNINSTALLER;
    options.commandLine = "\"" SANDBOX_UNINSTALLER "\" " + tail;
    return options;
}

// Runs it; it must start, end by itself in time and exit with 0.
inline RunResult Run(const RunOptions& options) {
    RunResult run = RunUninstaller(options);
    INFO(DescribeRun(run));
    REQUIRE(run.started);
    REQUIRE_FALSE(run.timedOut);
    REQUIRE(run.exited);
    CHECK(run.exitCode == 0);
    return run;
}
