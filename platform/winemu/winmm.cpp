// WINMM device counts, answered from the machine's [Devices].
#include "winemu/machine.h"

#include <mmsystem.h>

using winemu::Current;

extern "C" {

UINT WINAPI waveOutGetNumDevs(void) {
    return Current().Fault().Check("waveOutGetNumDevs") ? 0 : Current().Config().waveOutDevs;
}

UINT WINAPI waveInGetNumDevs(void) {
    return Current().Fault().Check("waveInGetNumDevs") ? 0 : Current().Config().waveInDevs;
}

UINT WINAPI midiOutGetNumDevs(void) {
    return Current().Fault().Check("midiOutGetNumDevs") ? 0 : Current().Config().midiOutDevs;
}

UINT WINAPI midiInGetNumDevs(void) {
    return Current().Fault().Check("midiInGetNumDevs") ? 0 : Current().Config().midiInDevs;
}

} // extern "C"
