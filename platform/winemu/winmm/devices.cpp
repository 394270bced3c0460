// WINMM device counts: the image's own [Devices] and those its last restart found.
#include "winemu/machine.h"
#include "winemu/machine/export.h"

#include <mmsystem.h>

#include <string_view>

using winemu::Current;

namespace {

// A count as winmm gives it, which cannot wrap past the largest; 0 when a fault fails the call.
UINT Count(std::string_view api, UINT own, UINT found) {
    if (winemu::Faulted(api, winemu::kLastErrorKept))
        return 0;
    return own > 0xFFFFFFFFu - found ? 0xFFFFFFFFu : own + found;
}

} // namespace

extern "C" {

UINT WINAPI waveOutGetNumDevs(void) {
    const winemu::MachineConfig& c = Current().Config();
    return Count("waveOutGetNumDevs", c.waveOutDevs, c.foundWaveOutDevs);
}

UINT WINAPI waveInGetNumDevs(void) {
    const winemu::MachineConfig& c = Current().Config();
    return Count("waveInGetNumDevs", c.waveInDevs, c.foundWaveInDevs);
}

UINT WINAPI midiOutGetNumDevs(void) {
    const winemu::MachineConfig& c = Current().Config();
    return Count("midiOutGetNumDevs", c.midiOutDevs, c.foundMidiOutDevs);
}

UINT WINAPI midiInGetNumDevs(void) {
    const winemu::MachineConfig& c = Current().Config();
    return Count("midiInGetNumDevs", c.midiInDevs, c.foundMidiInDevs);
}

} // extern "C"
