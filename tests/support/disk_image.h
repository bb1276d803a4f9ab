#pragma once
// The test support for recorder disks in one include: the image writer and reader
// (image.h), what goes on an image (image_builders.h), the consistency check
// (image_oracle.h), host files (host_files.h) and running the programs
// (process_runner.h).
#include "support/byte_helpers.h"
#include "support/host_files.h"
#include "support/image.h"
#include "support/image_builders.h"
#include "support/image_oracle.h"
#include "support/process_runner.h"
