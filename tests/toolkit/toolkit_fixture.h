// A machine with an install disk on A: and a Windows NT directory on C:, booted in process with
// the toolkit's frame up; the console is kept so that what the user saw can be checked.
#pragma once

#include "support/test_machine.h"
#include "toolkit/core.h"

#include <toolkit.h>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

namespace toolkittest {

class ToolkitTest : public ::testing::Test {
  protected:
    ToolkitTest() {
        image.Ini("[Machine]\nCurrentDirectory=A:\\\n");
        image.Folder("C:\\WINNT\\system32");
    }
    ~ToolkitTest() override { toolkit::SetUi(nullptr); }

    // Boots the image and brings the frame up with this command line.
    void Start(const std::string& cmdLine = "") {
        BootOnly();
        std::string cmd = cmdLine;
        ASSERT_NE(InitializeFrame(cmd.data()), nullptr) << console.str();
    }
    void BootOnly() {
        active.reset(); // the old machine goes before the new one becomes current
        active = std::make_unique<testsupport::ActiveMachine>(image);
        M().SetConsole(&console);
    }

    winemu::Machine& M() { return active->M(); }
    nlohmann::json& Report() { return M().Report(); }

    static std::string Symbol(const char* name) {
        char buf[512];
        INT cb = CbGetSymbolValue(name, buf, sizeof buf);
        EXPECT_LT(cb, static_cast<INT>(sizeof buf));
        return buf;
    }

    // Shows a dialog of the library with its own procedure, as setup does.
    static BOOL Show(UINT id, const char* proc) {
        return FDoDialogExt(HwndFrame(), "qvxcui.dll", id, proc, "qvxcui.dll", 0, 0);
    }
    static std::string ShowAndRead(UINT id, const char* proc) {
        EXPECT_TRUE(Show(id, proc)) << "dialog " << id;
        return Symbol("DLGEVENT");
    }

    testsupport::TestImage image;
    std::unique_ptr<testsupport::ActiveMachine> active;
    std::ostringstream console;
};

} // namespace toolkittest
