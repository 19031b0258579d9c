// The gevsim command line's payload and stream fault options, parsed and switched on
// in a camera's stream faults, without sockets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Bootstrap.h"
#include "CommandLine.h"
#include "DeviceModel.h"

namespace {

bool Parse(std::vector<const char*> args, GevSim::CommandLineSettings* settings,
           std::string* error) {
    args.insert(args.begin(), "gevsim");
    return GevSim::ParseCommandLine(static_cast<int>(args.size()), args.data(), settings, error);
}

TEST(GevsimCommandLine, PayloadNamesSelectTheirTypes) {
    const std::vector<std::pair<const char*, uint16_t>> names = {
        {"image", 0x0001}, {"chunk", 0x4001},      {"raw", 0x0002},  {"chunk-data", 0x0004},
        {"jpeg", 0x0006},  {"multi-part", 0x000A}, {"gendc", 0x000B}};
    for (const auto& [name, type] : names) {
        GevSim::CommandLineSettings settings;
        std::string error;
        ASSERT_TRUE(Parse({"--address", "127.0.0.1", "--payload", name}, &settings, &error))
            << name << ": " << error;
        EXPECT_EQ(settings.camera.payloadType, type) << name;
    }
    GevSim::CommandLineSettings settings;
    std::string error;
    EXPECT_FALSE(Parse({"--address", "127.0.0.1", "--payload", "mpeg"}, &settings, &error));
}

TEST(GevsimCommandLine, SendModeNamesSelectTheirModes) {
    using GevSim::SendMode;
    const std::vector<std::pair<const char*, SendMode>> names = {
        {"plain", SendMode::Plain}, {"batch", SendMode::Batch}, {"gso", SendMode::Gso}};
    for (const auto& [name, mode] : names) {
        GevSim::CommandLineSettings settings;
        settings.camera.sendMode = SendMode::Gso;  // so that "plain" must set it
        if (mode == SendMode::Gso) settings.camera.sendMode = SendMode::Plain;
        std::string error;
        ASSERT_TRUE(Parse({"--address", "127.0.0.1", "--send-mode", name}, &settings, &error))
            << name << ": " << error;
        EXPECT_EQ(settings.camera.sendMode, mode) << name;
    }
    GevSim::CommandLineSettings settings;
    std::string error;
    EXPECT_EQ(settings.camera.sendMode, SendMode::Plain);
    EXPECT_FALSE(Parse({"--address", "127.0.0.1", "--send-mode", "fast"}, &settings, &error));
}

TEST(GevsimCommandLine, TestPatternIsTheRegistersValueAtPowerUp) {
    for (const char* value : {"0", "3"}) {
        GevSim::CommandLineSettings settings;
        std::string error;
        ASSERT_TRUE(Parse({"--address", "127.0.0.1", "--test-pattern", value}, &settings, &error))
            << error;
        GevSim::DeviceModel model(settings.camera);
        uint32_t pattern = 99;
        ASSERT_EQ(model.ReadRegister(GevSim::Host{}, GevSim::UserRegister::kTestPattern, &pattern),
                  0);
        EXPECT_EQ(pattern, static_cast<uint32_t>(std::stoul(value)));
    }
    GevSim::CommandLineSettings settings;
    std::string error;
    EXPECT_FALSE(Parse({"--address", "127.0.0.1", "--test-pattern", "4"}, &settings, &error));
}

TEST(GevsimCommandLine, StreamFaultRatiosShareTheSeed) {
    GevSim::CommandLineSettings settings;
    std::string error;
    ASSERT_TRUE(Parse(
        {"--address", "127.0.0.1", "--loss-ratio", "1", "--spare-one-packet", "--duplicate-ratio",
         "0.25", "--reorder-ratio=0.5", "--reorder-distance", "2", "--seed", "9"},
        &settings, &error))
        << error;
    GevSim::StreamFaults faults;
    GevSim::ApplyStreamFaults(settings, &faults);
    const auto plan = faults.Plan(1, 10);
    EXPECT_EQ(plan.ratio, 1.0);
    EXPECT_EQ(plan.seed, 9u);
    ASSERT_TRUE(plan.spared);
    EXPECT_EQ(*plan.spared, 1u);
    EXPECT_EQ(plan.duplicateRatio, 0.25);
    EXPECT_EQ(plan.duplicateSeed, 9u);
    EXPECT_EQ(plan.reorderRatio, 0.5);
    EXPECT_EQ(plan.reorderSeed, 9u);
    EXPECT_EQ(plan.reorderDistance, 2u);
}

TEST(GevsimCommandLine, BadRatiosAreRefused) {
    for (const std::vector<const char*>& bad :
         {std::vector<const char*>{"--duplicate-ratio", "1.5"},
          {"--reorder-ratio", "x"},
          {"--reorder-ratio", "-0.1"},
          {"--reorder-distance", "0"}}) {
        GevSim::CommandLineSettings settings;
        std::string error;
        std::vector<const char*> args = {"--address", "127.0.0.1"};
        args.insert(args.end(), bad.begin(), bad.end());
        EXPECT_FALSE(Parse(args, &settings, &error)) << bad[0] << " " << bad[1];
        EXPECT_NE(error.find(std::string(bad[0]).substr(2)), std::string::npos) << error;
    }
}

}  // namespace
