#include <doctest.h>
#include "app/CommandLine.h"
TEST_CASE("placeholder2") { CHECK(CommandLineTail("a b")[0] == 'b'); }
