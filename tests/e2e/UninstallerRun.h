#pragma once
// Running the staged uninstaller once to its end, as the end-to-end scenarios do.
#include <doctest.h>

#include "sandbox/common/Layout.h"
#include "sandbox/user/WindowDriver.h"

#include <string>
#include <vector>

// The staged uninstaller with the given command-line tail.
inline RunOptions Uninstaller(const std::string& tail) {
    RunOptions options;
    options.applicationPath = sandbox::Uninstaller();
    options.commandLine = "\"" + sandbox::Uninstaller() + "\" " + tail;
    return options;
}

// The steps of a run's progress window, in order: each result label coming into view, each
// stage label being enabled.
inline std::vector<LabelChange> LabelSteps(const RunResult& run) {
    std::vector<LabelState> current = run.initialLabels;
    std::vector<LabelChange> steps;
    for (const LabelChange& change : run.changes) {
        for (LabelState& label : current) {
            if (label.id != change.label.id)
                continue;
            if ((!label.visible && change.label.visible) ||
                (!label.enabled && change.label.enabled))
                steps.push_back(change);
            label = change.label;
        }
    }
    return steps;
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
