#pragma once

#include "BlockHistogram.h"

#include <cmath>

// What the normaliser's meters find in one signal: its loudness, range and peaks, as the
// normaliser itself measures a file before changing it.
struct Measurement {
    double integratedLufs = -HUGE_VAL;  // -infinity: no block passed the gates (silence, < 400 ms)
    double rangeLu = 0;                 // loudness range (EBU Tech 3342)
    double truePeakDbtp = -HUGE_VAL;    // -infinity: digital silence
    double samplePeakDbfs = -HUGE_VAL;
    double seconds = 0;
    BlockHistogram blocks;              // the 400 ms blocks, for the loudness of a set
};
