#pragma once
// What a found stream is called: its length from its clock, its programme and PIDs from
// the PAT and PMT found anywhere in it, the service and event from its SDT and EIT, when
// it was recorded from its time tables, and a deleted programme-information event that
// fits it.
#include "carve/carve.h"

// Fills the stream's duration and names from its fragments and the result's guide.
void carve_name_stream(const CarveResult &result, CarveStream *stream);
