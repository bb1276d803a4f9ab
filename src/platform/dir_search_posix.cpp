#include "platform/dir_search.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

namespace {

// Splits `pattern` into the directory to search and the file part to match.
void split_pattern(const char *pattern, std::string *directory, const char **file_part)
{
    const char *slash = strrchr(pattern, '/');
    if (slash == nullptr) {
        *directory = ".";
        *file_part = pattern;
        return;
    }
    *directory = slash == pattern ? std::string("/") : std::string(pattern, slash);
    *file_part = slash + 1;
}

bool open_directory(DirSearch *search, const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    search->directory = fdopendir(fd);
    if (search->directory == nullptr) {
        int saved = errno;
        close(fd);
        errno = saved;
        return false;
    }
    return true;
}

// Reads every name of the directory and keeps those that `file_part` matches.
bool collect_matches(DirSearch *search, const char *file_part)
{
    for (;;) {
        errno = 0;
        const dirent *item = readdir(search->directory);
        if (item == nullptr)
            return errno == 0;
        const char *name = item->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        if (fnmatch(file_part, name, FNM_PERIOD) == 0)
            search->names.emplace_back(name);
    }
}

} // namespace

SearchStart dir_search_first(DirSearch *search, const char *pattern, const char **name)
{
    dir_search_close(search);
    std::string directory;
    const char *file_part;
    split_pattern(pattern, &directory, &file_part);
    if (!open_directory(search, directory) || !collect_matches(search, file_part)) {
        search->error = errno != 0 ? errno : EIO;
        return SearchStart::Failed;
    }
    std::sort(search->names.begin(), search->names.end());
    return dir_search_next(search, name) ? SearchStart::Found : SearchStart::NoMatch;
}

bool dir_search_next(DirSearch *search, const char **name)
{
    if (search->position >= search->names.size())
        return false;
    *name = search->names[search->position++].c_str();
    return true;
}

int dir_search_fd(const DirSearch *search)
{
    return search->directory != nullptr ? dirfd(search->directory) : -1;
}

void dir_search_close(DirSearch *search)
{
    if (search->directory != nullptr)
        closedir(search->directory);
    search->directory = nullptr;
    search->names.clear();
    search->position = 0;
    search->error = 0;
}
