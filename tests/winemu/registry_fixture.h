// The registry tests' machine: a booted emulated machine with the keys a Windows NT setup
// program expects, and the calls that open and create keys under it.
#pragma once

#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace registrytest {

constexpr BYTE kJunk = 0xCC;
constexpr DWORD kJunkDword = 0xCCCCCCCC;

class RegistryTest : public ::testing::Test {
  protected:
    RegistryTest() : machine_(image_.Dir()), active_(machine_) {
        Reg().Create("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
        Reg().Create("HKLM\\SYSTEM\\CurrentControlSet\\Services\\Serial\\Parameters");
    }

    winemu::Registry& Reg() { return machine_.Reg(); }
    winemu::Handles& Objects() { return machine_.Objects(); }

    HKEY Open(HKEY root, const char* path, REGSAM access) {
        HKEY key = NULL;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path, 0, access, &key)) << path;
        return key;
    }

    HKEY Create(HKEY root, const char* path) {
        HKEY key = NULL;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(root, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL))
            << path;
        return key;
    }

    testsupport::TestImage image_;
    winemu::Machine machine_;
    winemu::ScopedMachine active_;
};

inline std::vector<BYTE> Bytes(std::string_view s) {
    return std::vector<BYTE>(s.begin(), s.end());
}

} // namespace registrytest
