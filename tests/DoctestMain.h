#pragma once
// The test programs' main, after DOCTEST_CONFIG_IMPLEMENT: first the count of test cases that
// the run holds (doctest's --count line), then each test case's name as it starts, written
// through, so that a program that crashes or ends early still shows how far it came. The sandbox
// (tests/wine-run) compares the count with doctest's summary and names the last case started.
#include <doctest.h>

#include <cstdio>
#include <vector>

namespace doctest_main {

struct Progress : doctest::IReporter {
    explicit Progress(const doctest::ContextOptions&) {}
    void report_query(const doctest::QueryData&) override {}
    void test_run_start() override {}
    void test_run_end(const doctest::TestRunStats&) override {}
    void test_case_start(const doctest::TestCaseData& data) override {
        std::fflush(stdout);
        std::printf("[doctest] test case started: %s\n", data.m_name);
        std::fflush(stdout);
    }
    void test_case_reenter(const doctest::TestCaseData&) override {}
    void test_case_end(const doctest::CurrentTestCaseStats&) override { std::fflush(stdout); }
    void test_case_exception(const doctest::TestCaseException&) override {}
    void subcase_start(const doctest::SubcaseSignature&) override {}
    void subcase_end() override {}
    void log_assert(const doctest::AssertData&) override {}
    void log_message(const doctest::MessageData&) override {}
    void test_case_skipped(const doctest::TestCaseData&) override {}
};
REGISTER_LISTENER("progress", 1, Progress);

inline int Run(int argc, char** argv) {
    {
        std::vector<const char*> counting(argv, argv + argc);
        counting.push_back("--count");
        doctest::Context count(int(counting.size()), counting.data());
        count.setOption("no-intro", true);
        count.run();
    }
    doctest::Context context(argc, argv);
    int status = context.run();
    std::fflush(stdout);
    return status;
}

} // namespace doctest_main
