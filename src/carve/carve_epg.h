#pragma once
// Programme information left behind by deleted recordings: an N.epg file begins at the
// start of a cluster of the EPG partition with its event count, then one record per event
// (start, duration, title). The events found name the streams whose time they fit.
#include <cstdint>
#include <vector>

#include "carve/carve_psi.h"

// Adds the events of the programme-information file that begins the cluster, if one does:
// every record that fits the cluster must hold a plausible start, duration and title.
void carve_epg_cluster(const uint8_t *data, uint32_t length, std::vector<CarveEvent> *events);

// Of `events`, the one that fits a stream recorded from `start` for `seconds`: it lies
// within the stream (give or take the padding a recorder adds) and fills at least half of
// it; the longest such event. Null when none fits.
const CarveEvent *carve_epg_fitting(const std::vector<CarveEvent> &events, uint32_t start,
                                    uint64_t seconds);
