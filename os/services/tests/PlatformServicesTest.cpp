#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "os/services/PlatformServices.h"

using namespace platform_services;

TEST(PlatformServices, LocaleIsThatOfTheFirstShippedEntryInGettextOrder) {
    char const* enFr[] = {"en", nullptr, "fr"};
    EXPECT_STREQ(localeFor(enFr, 3), "fr_FR");
    EXPECT_STREQ(localeFor(nullptr, 0), "en_US");

    for (char const* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) unsetenv(name);
    EXPECT_EQ(localeFromEnvironment(), "en_US");
    setenv("LANG", "de_DE.UTF-8", 1);
    setenv("LC_MESSAGES", "zh_TW.UTF-8", 1);
    EXPECT_EQ(localeFromEnvironment(), "zh_TW");
    setenv("LANGUAGE", "nl_NL:pt_PT.UTF-8:de", 1);
    EXPECT_EQ(localeFromEnvironment(), "pt_BR");
    setenv("LANGUAGE", "zh@latin::en_GB", 1);
    EXPECT_EQ(localeFromEnvironment(), "zh_CN");
    // The first shipped entry decides, English included: later languages are fallbacks only.
    setenv("LANGUAGE", "en_US:de_DE", 1);
    EXPECT_EQ(localeFromEnvironment(), "en_US");
    setenv("LANGUAGE", "en_GB:en:fr", 1);
    EXPECT_EQ(localeFromEnvironment(), "en_US");
    setenv("LANGUAGE", "nl:de_AT:fr", 1);
    EXPECT_EQ(localeFromEnvironment(), "de_DE");
    // Languages the game does not ship are passed over, even when their code begins like one it does.
    setenv("LANGUAGE", "kok_IN:frr_DE:ja_JP", 1);
    EXPECT_EQ(localeFromEnvironment(), "ja_JP");
    setenv("LANGUAGE", "kok_IN", 1);
    EXPECT_EQ(localeFromEnvironment(), "en_US");
    setenv("LANGUAGE", "en", 1);  // an explicit English wins over the locale variables
    EXPECT_EQ(localeFromEnvironment(), "en_US");
    setenv("LANGUAGE", std::string(5000, ':').append("fr").c_str(), 1);
    EXPECT_EQ(localeFromEnvironment(), "fr_FR");

    std::string first = preferredLocale();
    setenv("LANGUAGE", first == "ko_KR" ? "ru" : "ko", 1);
    EXPECT_EQ(preferredLocale(), first);  // fixed for the life of the process
}

TEST(PlatformServices, PpiFallsBackOnBackingWidth) {
    EXPECT_EQ(ppiFor("iPad1,1", 2208), 132);
    EXPECT_EQ(ppiFor("x86_64", 2208), 401);
    EXPECT_EQ(ppiFor("x86_64", 1242), 326);
    EXPECT_EQ(ppiFor(nullptr, 1024), 132);
}

TEST(PlatformServices, DeviceModelOverrideSelectsLowEndPath) {
    setenv("ZELV_DEVICE_MODEL", "iPod5,1", 1);
    EXPECT_TRUE(isLowEndDevice());
    unsetenv("ZELV_DEVICE_MODEL");
    EXPECT_FALSE(isLowEndDevice());
}

TEST(PlatformServices, ClockStartsNearZeroAndNeverGoesBack) {
    int64_t prev = nowMs();
    EXPECT_GE(prev, 0);
    EXPECT_LT(prev, 60 * 1000);
    for (int i = 0; i < 1000; ++i) {
        int64_t t = nowMs();
        ASSERT_GE(t, prev);
        prev = t;
    }
}
