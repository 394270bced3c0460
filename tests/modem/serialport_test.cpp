// The modem's serial port: "AttachedTo" in the modem class entries, the Ports value, and the
// port subkey of the serial driver's parameters, found or created.
#include "modem_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using modemtest::kClassKey;
using modemtest::kPortsKey;
using modemtest::kSerialKey;
using modemtest::ModemMachine;

struct PortMachine : ModemMachine {
    explicit PortMachine(const char* port) {
        Boot();
        std::strcpy(szModemPortName, port);
        // Start from empty keys; each test says what they hold.
        Reg().Delete(kSerialKey);
        Reg().Create(kSerialKey);
    }
    std::string Modem(const char* subkey) { return std::string(kClassKey) + subkey; }
    std::string Port(const char* subkey) { return std::string(kSerialKey) + subkey; }
    void SerialSubkey(const char* name, const char* dosDevices) {
        Reg().Create(Port(name));
        if (dosDevices)
            Reg().SetString(Port(name), "DosDevices", dosDevices);
    }
    size_t SerialSubkeys() { return Reg().Find(kSerialKey)->subkeys.size(); }
    bool NoLeaks() { return M().Objects().Leaks().empty(); }
};

std::vector<BYTE> Bytes(const char* text) {
    return std::vector<BYTE>(text, text + std::strlen(text) + 1);
}

// ---------------------------------------------------------------------------------------------
// AttachedTo

TEST(FSetModemAttachedTo, EveryFreeModemGetsThePort) {
    PortMachine machine("COM2");
    machine.Reg().Create(machine.Modem("0000"));
    machine.Reg().Create(machine.Modem("0001"));
    EXPECT_TRUE(FSetModemAttachedTo());
    for (const char* subkey : {"0000", "0001"}) {
        const winemu::RegValue* v = machine.Reg().Value(machine.Modem(subkey), "AttachedTo");
        ASSERT_NE(v, nullptr) << subkey;
        EXPECT_EQ(v->type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(v->data, Bytes("COM2"));
    }
    EXPECT_TRUE(machine.NoLeaks());
}

TEST(FSetModemAttachedTo, ModemsOnOtherPortsKeepThem) {
    PortMachine machine("COM2");
    machine.Reg().SetString(machine.Modem("0000"), "AttachedTo", "COM1");
    machine.Reg().SetString(machine.Modem("0001"), "AttachedTo", "com2"); // this very port
    machine.Reg().Create(machine.Modem("0002"));
    // The modem just installed, whose INF file preset another port, takes the modem port.
    machine.Reg().SetString(machine.Modem("0003"), "AttachedTo", "COM1");
    std::strcpy(szModemDriverKey, "{4d36e96d-e325-11ce-bfc1-08002be10318}\\0003");
    EXPECT_TRUE(FSetModemAttachedTo());
    EXPECT_EQ(machine.Reg().GetString(machine.Modem("0000"), "AttachedTo"), "COM1");
    EXPECT_EQ(machine.Reg().GetString(machine.Modem("0001"), "AttachedTo"), "COM2");
    EXPECT_EQ(machine.Reg().GetString(machine.Modem("0002"), "AttachedTo"), "COM2");
    EXPECT_EQ(machine.Reg().GetString(machine.Modem("0003"), "AttachedTo"), "COM2");
}

TEST(FSetModemAttachedTo, FailsWhenNoModemReceivedThePort) {
    {
        PortMachine machine("COM2"); // no subkeys at all
        EXPECT_FALSE(FSetModemAttachedTo());
        EXPECT_TRUE(machine.NoLeaks());
    }
    {
        PortMachine machine("COM2"); // every modem sits on another port
        machine.Reg().SetString(machine.Modem("0000"), "AttachedTo", "COM1");
        EXPECT_FALSE(FSetModemAttachedTo());
        EXPECT_EQ(machine.Reg().GetString(machine.Modem("0000"), "AttachedTo"), "COM1");
    }
    {
        PortMachine machine("COM2");
        machine.Reg().Create(machine.Modem("0000"));
        machine.M().Fault().Add("RegOpenKeyExA", "0000"); // the first modem cannot be opened
        EXPECT_FALSE(FSetModemAttachedTo());
        EXPECT_EQ(machine.Reg().Value(machine.Modem("0000"), "AttachedTo"), nullptr);
        EXPECT_TRUE(machine.NoLeaks());
    }
    {
        PortMachine machine("COM2");
        machine.Reg().Create(machine.Modem("0000"));
        machine.M().Fault().Add("RegSetValueExA", "AttachedTo");
        EXPECT_FALSE(FSetModemAttachedTo());
        EXPECT_TRUE(machine.NoLeaks());
    }
}

TEST(FSetModemAttachedTo, AnUnopenableModemEndsTheWalkAfterAWrite) {
    PortMachine machine("COM3");
    machine.Reg().Create(machine.Modem("0000"));
    machine.Reg().Create(machine.Modem("0001"));
    machine.Reg().Create(machine.Modem("0002"));
    machine.M().Fault().Add("RegOpenKeyExA", "0001");
    EXPECT_TRUE(FSetModemAttachedTo());
    EXPECT_EQ(machine.Reg().GetString(machine.Modem("0000"), "AttachedTo"), "COM3");
    EXPECT_EQ(machine.Reg().Value(machine.Modem("0002"), "AttachedTo"), nullptr);
    EXPECT_TRUE(machine.NoLeaks());
}

// ---------------------------------------------------------------------------------------------
// Ports and the serial parameters

struct PortValues {
    const char* dosDevices;
    DWORD interrupt;
    DWORD address;
};

void ExpectPortSubkey(PortMachine& machine, const char* subkey, const PortValues& want) {
    SCOPED_TRACE(subkey);
    const std::string key = machine.Port(subkey);
    const winemu::RegValue* dos = machine.Reg().Value(key, "DosDevices");
    ASSERT_NE(dos, nullptr);
    EXPECT_EQ(dos->data, Bytes(want.dosDevices));
    EXPECT_EQ(machine.Reg().GetDword(key, "ForceFifoEnable"), 1u);
    EXPECT_EQ(machine.Reg().GetDword(key, "Interrupt"), want.interrupt);
    EXPECT_EQ(machine.Reg().GetDword(key, "PortAddress"), want.address);
}

TEST(FConfigureSerialPort, EachPortHasItsStandardSettings) {
    const PortValues ports[] = {
        {"COM1", 4, 0x3F8}, {"COM2", 3, 0x2F8}, {"COM3", 4, 0x3E8}, {"COM4", 3, 0x2E8}};
    for (const PortValues& port : ports) {
        PortMachine machine(port.dosDevices);
        EXPECT_TRUE(FConfigureSerialPort());
        ExpectPortSubkey(machine, "Serial1", port);
        EXPECT_EQ(machine.SerialSubkeys(), 1u);
        const std::string valueName = std::string(port.dosDevices) + ":";
        const winemu::RegValue* line = machine.Reg().Value(kPortsKey, valueName);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(line->data, Bytes("57600,n,8,1")); // 12 bytes with the zero
        EXPECT_TRUE(machine.NoLeaks());
    }
}

TEST(FConfigureSerialPort, NewSubkeyAfterTheLast) {
    PortMachine machine("COM4");
    machine.SerialSubkey("Serial1", "COM1");
    machine.SerialSubkey("Serial2", "COM2");
    EXPECT_TRUE(FConfigureSerialPort());
    ExpectPortSubkey(machine, "Serial3", {"COM4", 3, 0x2E8});
    EXPECT_EQ(machine.Reg().GetString(machine.Port("Serial2"), "DosDevices"), "COM2");
}

TEST(FConfigureSerialPort, ThePortsOwnSubkeyIsReused) {
    PortMachine machine("COM3");
    machine.SerialSubkey("Serial10000", "COM1");
    machine.SerialSubkey("Serial10001", "COM3");
    machine.Reg().SetDword(machine.Port("Serial10001"), "Interrupt", 9);
    EXPECT_TRUE(FConfigureSerialPort());
    ExpectPortSubkey(machine, "Serial10001", {"COM3", 4, 0x3E8});
    EXPECT_EQ(machine.SerialSubkeys(), 2u);
}

TEST(FConfigureSerialPort, DosDeviceNamesMatchExactly) {
    PortMachine machine("COM3");
    machine.SerialSubkey("Serial1", "com3");
    EXPECT_TRUE(FConfigureSerialPort());
    EXPECT_EQ(machine.Reg().GetString(machine.Port("Serial1"), "DosDevices"), "com3");
    ExpectPortSubkey(machine, "Serial2", {"COM3", 4, 0x3E8});
}

TEST(FConfigureSerialPort, AnotherPortsSubkeyIsNeverOverwritten) {
    // SerialZ names Serial1 after it, which belongs to COM1: the number counts up to a free one.
    PortMachine machine("COM4");
    machine.SerialSubkey("Serial1", "COM1");
    machine.SerialSubkey("Serial2", "COM2");
    machine.SerialSubkey("SerialZ", "COM3");
    EXPECT_TRUE(FConfigureSerialPort());
    EXPECT_EQ(machine.Reg().GetString(machine.Port("Serial1"), "DosDevices"), "COM1");
    EXPECT_EQ(machine.Reg().GetString(machine.Port("Serial2"), "DosDevices"), "COM2");
    ExpectPortSubkey(machine, "Serial3", {"COM4", 3, 0x2E8});
    EXPECT_EQ(machine.SerialSubkeys(), 4u);

    // A name that exists counts as taken even when it cannot be opened: the probe of Serial1
    // (the fifth open: Ports, the parameters, the two subkeys, then the probe) is refused.
    PortMachine refusing("COM4");
    refusing.SerialSubkey("Serial1", "COM1");
    refusing.SerialSubkey("SerialZ", "COM3");
    refusing.M().Fault().Add("RegOpenKeyExA", "#5");
    EXPECT_TRUE(FConfigureSerialPort());
    EXPECT_EQ(refusing.Reg().GetString(refusing.Port("Serial1"), "DosDevices"), "COM1");
    ExpectPortSubkey(refusing, "Serial2", {"COM4", 3, 0x2E8});
    EXPECT_TRUE(refusing.NoLeaks());
}

TEST(FConfigureSerialPort, NamesDerivedFromTheLastSubkey) {
    struct Row {
        const char* last;
        const char* created;
    };
    const Row rows[] = {
        {"Serial10000", "Serial10001"},
        {"SerialA", "Serial1"},
        {"Serial", "Serial1"}, // six characters, no number
        {"Ser", "Ser1"},       // shorter: the whole name and the number 0
        {"Serial-5", "Serial-4"},
        {"Serial 7x", "Serial8"},
        {"Serial1000000050", "Serial1000000051"}, // ten digits
        {"Serial2147483646", "Serial2147483647"},
        {"Serial99999999999999", "Serial2147483647"}, // an overlong number is held in bounds
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.last);
        PortMachine machine("COM2");
        machine.SerialSubkey(row.last, "COM1");
        EXPECT_TRUE(FConfigureSerialPort());
        ExpectPortSubkey(machine, row.created, {"COM2", 3, 0x2F8});
        EXPECT_EQ(machine.SerialSubkeys(), 2u);
    }
}

TEST(FConfigureSerialPort, Failures) {
    {
        // A subkey without "DosDevices": false, after the Ports value was written.
        PortMachine machine("COM2");
        machine.SerialSubkey("Serial1", nullptr);
        EXPECT_FALSE(FConfigureSerialPort());
        EXPECT_EQ(machine.Reg().GetString(kPortsKey, "COM2:"), "57600,n,8,1");
        EXPECT_EQ(machine.SerialSubkeys(), 1u);
        EXPECT_TRUE(machine.NoLeaks());
    }
    struct Row {
        const char* api;
        const char* rule;
    };
    const Row rows[] = {
        {"RegOpenKeyExA", "Ports"},
        {"RegSetValueExA", "COM2:"},
        {"RegOpenKeyExA", "Serial\\Parameters"},
        {"RegQueryInfoKeyA", "*"},
        {"RegEnumKeyExA", "*"},
        {"RegCreateKeyExA", "*"},
        {"RegSetValueExA", "PortAddress"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.api) + "=" + row.rule);
        PortMachine machine("COM2");
        machine.SerialSubkey("Serial1", "COM1");
        machine.M().Fault().Add(row.api, row.rule);
        EXPECT_FALSE(FConfigureSerialPort());
        EXPECT_TRUE(machine.NoLeaks());
    }
}

} // namespace
