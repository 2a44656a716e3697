#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest.h>

#include <cstring>

#include "harness.h"

// "--call-handler NAME PACKAGE": the child side of CallHandlerWithToken.
int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--call-handler") == 0) return RunHandlerOnPackage(argv[2], Widen(argv[3]));
    return doctest::Context(argc, argv).run();
}
