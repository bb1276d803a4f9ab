#include "wardenfs/mount_text.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "records/info.h"
#include "records/listing.h"

std::vector<std::string> mount_recording_stems(HumaxDisk *disk)
{
    return reclist_host_stems(disk);
}

bool mount_recording_text(HumaxDisk *disk, int number, std::string *text, Error *error)
{
    char *data = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&data, &size);
    if (out == nullptr)
        throw std::bad_alloc();
    bool found = info_describe(out, disk, number, error);
    fclose(out);
    text->assign(data, size);
    free(data);
    return found;
}
