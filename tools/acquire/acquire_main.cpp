// twacquire: a command-line TWAIN application for tests and the demo.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/acquire/acquire_options.h"
#include "tools/acquire/acquisition.h"

int main(int argc, char** argv)
{
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        PrintUsage();
        return 0;
    }
    AcquireOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        fprintf(stderr, "twacquire: %s\n", error.c_str());
        PrintUsage();
        return 2;
    }
    return RunAcquisition(options);
}
