// What the multimedia registration writes, as both the unit tests and the whole runs expect it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace expected {

inline const std::string kVersionKey = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
inline const std::string kResourcesKey =
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\MediaResources\\MIDI";
inline const std::string kUserMidiMap =
    "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Multimedia\\MIDIMap";

struct ListValue {
    const char* subkey;
    const char* name;
    const char* data;
};

// The driver lists, in the order they are written.
inline const ListValue kDriverLists[] = {
    {"Drivers32", "mixer", "TONEBAY.DLL"},
    {"Drivers32", "aux", "TONEBAY.DLL"},
    {"Drivers32", "aux1", "MMDRV.DLL"},
    {"Drivers32", "MIDI", "TONEBAY.DLL"},
    {"Drivers32", "MIDI1", "MMDRV.DLL"},
    {"Drivers32", "wave", "TONEBAY.DLL"},
    {"Drivers32", "wave1", "MMDRV.DLL"},
    {"userinstallable.drivers", "wave", "TONEBAY.DLL"},
    {"userinstallable.drivers", "wave1", "MMDRV.DLL"},
    {"related.desc", "wave", ""},
    {"related.desc", "wave1", ""},
    {"drivers.desc", "TONEBAY.DLL", "16-bit Audio Driver"},
    {"drivers.desc", "MMDRV.DLL", "Low level Wave, MIDI and AUX support"},
};

// A REG_SZ's bytes: the text and its terminating zero.
inline std::vector<BYTE> Sz(const std::string& text) {
    std::vector<BYTE> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

} // namespace expected
