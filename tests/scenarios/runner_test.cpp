// The runner as a person uses it: its options, a machine it cannot boot, and what it leaves.
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

using testsupport::TestImage;

namespace {

struct Outcome {
    int exitCode;
    std::string output;
};

Outcome RunRunner(const std::string& args) {
    std::string command = std::string(SOUNDSETUP_SETUP_EXE) + " " + args + " 2>&1 </dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), n);
    int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

} // namespace

TEST(Runner, AMachineThatCannotBootIsNamedAndLeftAsItWas) {
    TestImage image;
    image.Registry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"x\"=hex:0g\n");
    const std::string before = testsupport::ReadHostFile(image.Dir() / "registry.reg");
    Outcome out = RunRunner("--machine " + image.Dir().string() + " --report " +
                            (image.Dir() / "r.json").string());
    EXPECT_EQ(out.exitCode, 2);
    EXPECT_NE(out.output.find("registry.reg:4"), std::string::npos) << out.output;
    EXPECT_EQ(testsupport::ReadHostFile(image.Dir() / "registry.reg"), before);
    EXPECT_FALSE(std::filesystem::exists(image.Dir() / "r.json"));
}

TEST(Runner, BadOptionsAreRefused) {
    EXPECT_EQ(RunRunner("").exitCode, 2);
    EXPECT_EQ(RunRunner("--machine").exitCode, 2);
    EXPECT_EQ(RunRunner("--frobnicate x").exitCode, 2);
    TestImage image;
    Outcome out = RunRunner("--machine " + image.Dir().string() + " --answers /nonexistent.ini");
    EXPECT_EQ(out.exitCode, 2);
    EXPECT_NE(out.output.find("/nonexistent.ini"), std::string::npos);
}
