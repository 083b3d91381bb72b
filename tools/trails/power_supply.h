// Whether the machine runs on battery, read from the kernel's power-supply
// class (/sys/class/power_supply): no daemon, no D-Bus. A tree of the same
// shape elsewhere can stand in for it (tests, TRAILS_POWER_SUPPLY_DIR).
#pragma once

#include <string>

// The tree to read: TRAILS_POWER_SUPPLY_DIR when set, else the kernel's.
std::string PowerSupplyDirectory();

// On battery: no mains (or USB) supply of the system is online and a battery
// of the system is discharging. A machine without batteries, an unreadable
// tree or a battery of a device (a mouse, a headset) is not.
bool RunsOnBattery(const std::string& directory);
