#pragma once
// Room on the host's file systems, asked before a run writes much to one of them.
#include <cstdint>

// The bytes this process may still write to the file system holding the directory
// `path` (what is free to an unprivileged user where the system keeps some back). False,
// with errno set, when the system cannot tell.
bool host_free_space(const char *path, uint64_t *bytes);
