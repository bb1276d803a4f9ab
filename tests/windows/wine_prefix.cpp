// The ctest fixture "wine": `wine_prefix create` makes this run's Wine prefix afresh and
// starts its server before the Windows tests; `wine_prefix stop` stops the server after
// them. Without Wine both do nothing (the tests then skip, or fail under CI).
#include <cstdio>
#include <cstring>
#include <exception>

#include "wine.h"

int main(int argc, char **argv)
{
    const bool create = argc == 2 && strcmp(argv[1], "create") == 0;
    if (!create && !(argc == 2 && strcmp(argv[1], "stop") == 0)) {
        fprintf(stderr, "usage: wine_prefix create|stop\n");
        return 2;
    }
    try {
        if (!create)
            testimg::wine_stop();
        else if (testimg::wine_installed())
            testimg::wine_create_prefix();
    } catch (const std::exception &e) {
        fprintf(stderr, "wine_prefix: %s\n", e.what());
        return 1;
    }
    return 0;
}
