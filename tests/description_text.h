// The text a step's description renders to (sim/cftree.h), for the unit and
// the process tests alike; both numbers in C's %a form.
#pragma once

#include <string>

inline std::string descriptionText(const std::string& durationMS, const std::string& frequencykHz) {
    return "{BaseWaveform={Amplitude=f64:0x0p+0,DurationMS=f64:" + durationMS +
           ",Type=str:Gaussian},Tones=[{Amplitude=f64:0x1p+0,DelayMS=f64:0x0p+0,DurationMS=f64:" + durationMS +
           ",FrequencykHz=f64:" + frequencykHz + ",Type=str:Sine}]}";
}
