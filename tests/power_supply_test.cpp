// Whether the machine runs on battery, read from trees shaped like the
// kernel's /sys/class/power_supply: laptops on mains and on battery, a
// desktop, a peripheral's own battery, no tree at all.
#include "tools/trails/power_supply.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class PowerSupplies : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* base = std::getenv("TMPDIR");
        root_ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/power-supply-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(&root_[0]));
    }
    void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    // One supply: its directory and the attribute files given.
    void Supply(const std::string& name, std::initializer_list<std::pair<const char*, const char*>> attributes)
    {
        const std::string directory = root_ + "/" + name;
        mkdir(directory.c_str(), 0755);
        for (const auto& attribute : attributes)
            std::ofstream(directory + "/" + attribute.first) << attribute.second << "\n";
    }

    std::string root_;
};

TEST_F(PowerSupplies, ALaptopUnpluggedRunsOnBattery)
{
    Supply("AC", {{"type", "Mains"}, {"online", "0"}});
    Supply("BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"scope", "System"}});
    EXPECT_TRUE(RunsOnBattery(root_));
}

TEST_F(PowerSupplies, ALaptopPluggedInDoesNotWhateverItsBatteryDoes)
{
    Supply("ADP1", {{"type", "Mains"}, {"online", "1"}});
    for (const char* status : {"Charging", "Full", "Not charging", "Discharging"}) {
        Supply("BAT0", {{"type", "Battery"}, {"status", status}});
        EXPECT_FALSE(RunsOnBattery(root_)) << status;
    }
}

// Charging over USB-C is mains power too.
TEST_F(PowerSupplies, AUsbSupplyOnlineIsMainsPower)
{
    Supply("ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "1"}, {"scope", "System"}});
    Supply("BAT1", {{"type", "Battery"}, {"status", "Discharging"}});
    EXPECT_FALSE(RunsOnBattery(root_));
}

// A wireless mouse's or headset's battery says nothing about the machine.
TEST_F(PowerSupplies, APeripheralsBatteryIsNotTheMachines)
{
    Supply("hidpp_battery_0", {{"type", "Battery"}, {"status", "Discharging"}, {"scope", "Device"}});
    EXPECT_FALSE(RunsOnBattery(root_));
    Supply("BAT0", {{"type", "Battery"}, {"status", "Discharging"}});
    EXPECT_TRUE(RunsOnBattery(root_));
}

TEST_F(PowerSupplies, ADesktopOrNoTreeIsNotOnBattery)
{
    EXPECT_FALSE(RunsOnBattery(root_));
    Supply("AC", {{"type", "Mains"}, {"online", "1"}});
    EXPECT_FALSE(RunsOnBattery(root_));
    EXPECT_FALSE(RunsOnBattery(root_ + "/nowhere"));
}

TEST(PowerSupplyDirectory, TheVariablePointsTheReaderElsewhere)
{
    unsetenv("TRAILS_POWER_SUPPLY_DIR");
    EXPECT_EQ("/sys/class/power_supply", PowerSupplyDirectory());
    setenv("TRAILS_POWER_SUPPLY_DIR", "/tmp/fake-supplies", 1);
    EXPECT_EQ("/tmp/fake-supplies", PowerSupplyDirectory());
    unsetenv("TRAILS_POWER_SUPPLY_DIR");
}

}  // namespace
