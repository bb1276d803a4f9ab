#include "platform/process.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/wildcard.h"

void platform_start(int *argc, char ***argv)
{
    setvbuf(stderr, nullptr, _IONBF, 0);
    static std::vector<std::string> texts;
    static std::vector<char *> pointers;
    texts = platform_expand_arguments(*argc, *argv);
    pointers.clear();
    for (std::string &text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    *argc = static_cast<int>(texts.size());
    *argv = pointers.data();
}
