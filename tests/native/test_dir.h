// A fresh settings directory for each test, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/test_hooks.h"
#include "settings/settings.h"

class SettingsDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/roundcorner-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = std::string(pattern) + "/";
        ResetPlatformRecords();
    }
    void TearDown() override {
        std::string command = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }

    std::string SettingsPath() const { return dir + SETTINGS_FILE_NAME; }

    void WriteSettingsBytes(const std::string &bytes) const {
        std::ofstream(SettingsPath(), std::ios::binary) << bytes;
    }
    void WriteSettings(const FilterSettings &settings) const {
        WriteSettingsBytes(std::string(reinterpret_cast<const char *>(&settings), sizeof settings));
    }
    std::string ReadSettingsBytes() const {
        std::ifstream in(SettingsPath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string dir;
};

inline FilterSettings SettingsWith(int radius, int smooth, COLORREF background) {
    FilterSettings settings = {};
    settings.radius = radius;
    settings.smooth = smooth;
    settings.background = background;
    for (int i = 0; i < 16; i++) settings.customColors[i] = 0x00010101u * static_cast<COLORREF>(i);
    return settings;
}
