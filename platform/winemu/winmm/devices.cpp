// WINMM device counts: the image's own [Devices] and those its last restart found.
#include "winemu/machine.h"

#include <mmsystem.h>

using winemu::Current;

namespace {

// A count as winmm gives it, which cannot wrap past the largest.
UINT Sum(UINT own, UINT found) {
    return own > 0xFFFFFFFFu - found ? 0xFFFFFFFFu : own + found;
}

} // namespace

extern "C" {

UINT WINAPI waveOutGetNumDevs(void) {
    const winemu::MachineConfig& c = Current().Config();
    return Current().Fault().Check("waveOutGetNumDevs") ? 0
                                                        : Sum(c.waveOutDevs, c.foundWaveOutDevs);
}

UINT WINAPI waveInGetNumDevs(void) {
    const winemu::MachineConfig& c = Current().Config();
    return Current().Fault().Check("waveInGetNumDevs") ? 0 : Sum(c.waveInDevs, c.foundWaveInDevs);
}

UINT WINAPI midiOutGetNumDevs(void) {
    const winemu::MachineConfig& c = Current().Config();
    return Current().Fault().Check("midiOutGetNumDevs") ? 0
                                                        : Sum(c.midiOutDevs, c.foundMidiOutDevs);
}

UINT WINAPI midiInGetNumDevs(void) {
    const winemu::MachineConfig& c = Current().Config();
    return Current().Fault().Check("midiInGetNumDevs") ? 0 : Sum(c.midiInDevs, c.foundMidiInDevs);
}

} // extern "C"
