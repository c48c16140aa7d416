#define DOCTEST_CONFIG_IMPLEMENT
#include "tests/DoctestMain.h"

int main(int argc, char** argv) {
    return doctest_main::Run(argc, argv);
}
