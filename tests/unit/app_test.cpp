#include <doctest.h>
#include "app/CommandLine.h"
TEST_CASE("placeholder") { CHECK(CommandLineTail("a b")[0] == 'b'); }
