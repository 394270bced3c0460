// The runner as a person uses it: its options, a machine it cannot boot, and what it leaves.
#include "support/test_machine.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
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

// A sample machine copied into a fresh image, so that a run leaves the sample as it is.
void CopySample(const TestImage& image, const char* sample) {
    std::filesystem::copy(std::filesystem::path(SOUNDSETUP_SOURCE_DIR) / "machines" / sample,
                          image.Dir(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
}

ino_t Inode(const std::filesystem::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_ino : 0;
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
    // Where the report goes is checked before the run changes anything.
    for (const std::string& where : {std::string("/nonexistent/r.json"), image.Dir().string()}) {
        out = RunRunner("--machine " + image.Dir().string() + " --report " + where);
        EXPECT_EQ(out.exitCode, 2) << where;
        EXPECT_NE(out.output.find(where), std::string::npos) << out.output;
        EXPECT_FALSE(std::filesystem::exists(image.Dir() / "registry.reg")) << where;
    }
}

// A run whose registry cannot be saved still writes its report, keeps the old registry and
// says so with its own exit code; a run that changed nothing leaves registry.reg alone.
TEST(Runner, WhatARunLeavesWhenItCannotSaveOrHasNothingToSave) {
    TestImage image;
    CopySample(image, "nt40");
    const std::filesystem::path reg = image.Dir() / "registry.reg";
    const std::string before = testsupport::ReadHostFile(reg);
    std::filesystem::create_directories(image.Dir() / "registry.reg.tmp" / "in the way");
    std::ofstream(image.Dir() / "answers.ini") << "[Answers]\n";
    const std::filesystem::path report = image.Dir() / "r.json";
    Outcome out =
        RunRunner("--machine " + image.Dir().string() + " --answers " +
                  (image.Dir() / "answers.ini").string() + " --report " + report.string());
    EXPECT_EQ(out.exitCode, 3) << out.output;
    EXPECT_NE(out.output.find("registry was not saved"), std::string::npos) << out.output;
    EXPECT_EQ(testsupport::ReadHostFile(reg), before);
    ASSERT_TRUE(std::filesystem::exists(report));
    EXPECT_EQ(nlohmann::json::parse(testsupport::ReadHostFile(report))["exit_code"], 0);

    TestImage refused;
    CopySample(refused, "nt40-wave");
    const ino_t inode = Inode(refused.Dir() / "registry.reg");
    out = RunRunner("--machine " + refused.Dir().string());
    EXPECT_EQ(out.exitCode, 0) << out.output;
    EXPECT_EQ(Inode(refused.Dir() / "registry.reg"), inode);
}
