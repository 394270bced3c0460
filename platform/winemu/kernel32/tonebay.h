// The sample sound driver's entry points, which the machine builds in from
// platform/tonebay/tonebay.cpp under these names (platform/winemu/CMakeLists.txt renames them), so
// that a TONEBAY.DLL file on a drive loads the built driver.
#pragma once

#include <windows.h>

#include <mmsystem.h>

extern "C" BOOL WINAPI TonebayDllMain(HINSTANCE hinstDll, DWORD dwReason, LPVOID lpReserved);
extern "C" LRESULT CALLBACK TonebayDriverProc(DWORD_PTR dwDriverId, HDRVR hdrvr, UINT uMsg,
                                              LPARAM lParam1, LPARAM lParam2);
