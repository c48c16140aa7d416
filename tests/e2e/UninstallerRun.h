#pragma once
// Running the staged uninstaller once to its end, as the end-to-end scenarios do.
#include <doctest.h>

#include "sandbox/common/Layout.h"
#include "sandbox/user/WindowDriver.h"
#include "tests/support/SandboxState.h"

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

// The progress window's steps as the run takes them: the conversion's result (which may be shown
// before the window is first seen), then each later stage enabled and, after its pause of one
// second, its result shown. Each step is seen exactly once and in its stage's turn. A result
// and the next stage come one after the other, and a look at a busy moment may see both: steps
// seen in one look count as in either order, so only their looks are compared. A stage and its
// result are a second apart, measured from the look before the one that saw the stage;
// maxPauseMs bounds the pause, measured the other way round, where given.
inline void CheckStepsInTurn(const RunResult& run, DWORD maxPauseMs = 0) {
    const int turn[] = {1004, 1001, 1005, 1002, 1006, 1003, 1007};
    std::vector<LabelChange> steps = LabelSteps(run);
    const LabelChange* seen[7] = {};
    for (int n = 0; n < 7; ++n) {
        CAPTURE(turn[n]);
        size_t times = 0;
        for (const LabelChange& step : steps)
            if (step.label.id == turn[n] && times++ == 0)
                seen[n] = &step;
        bool early = false;
        for (const LabelState& label : run.initialLabels)
            early = early || (n == 0 && label.id == turn[n] && label.visible);
        CHECK(times == (early ? 0u : 1u));
    }
    CHECK(steps.size() == (seen[0] != nullptr ? 7u : 6u));
    for (int n = 0; n + 1 < 7; ++n) {
        if (seen[n] == nullptr || seen[n + 1] == nullptr)
            continue;
        CAPTURE(turn[n]);
        CHECK(seen[n]->look <= seen[n + 1]->look);
        if (turn[n] < 1004) { // a stage, then its result
            CHECK(seen[n]->look < seen[n + 1]->look);
            CHECK(seen[n + 1]->tick - seen[n]->previousTick >= 900);
            if (maxPauseMs > 0)
                CHECK(seen[n + 1]->previousTick - seen[n]->tick < maxPauseMs);
        }
    }
}

// Runs it; it must start, end by itself in time and exit with 0.
inline RunResult Run(const RunOptions& options) {
    RunResult run = RunUninstaller(options);
    INFO(DescribeRun(run));
    REQUIRE(run.started);
    REQUIRE_FALSE(run.timedOut);
    REQUIRE(run.exited);
    CHECK(run.exitCode == 0);
    CHECK(OutlookMembersNotFound().empty());
    return run;
}
