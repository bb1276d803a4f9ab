#include "platform/wildcard.h"

#include <dirent.h>

#include <cstring>

bool platform_directory_names(const std::string &prefix, std::vector<std::string> *names)
{
    DIR *directory = opendir(prefix.empty() ? "." : prefix.c_str());
    if (directory == nullptr)
        return false;
    while (const dirent *item = readdir(directory)) {
        if (strcmp(item->d_name, ".") != 0 && strcmp(item->d_name, "..") != 0)
            names->emplace_back(item->d_name);
    }
    closedir(directory);
    return true;
}
