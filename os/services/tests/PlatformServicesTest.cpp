#include <gtest/gtest.h>

#include <cstdlib>

#include "os/services/PlatformServices.h"

using namespace platform_services;

TEST(PlatformServices, LocaleTakesFirstShippedEntryInOrder) {
    char const* enFr[] = {"en", "fr"};
    EXPECT_STREQ(localeFor(enFr, 2), "fr_FR");
    char const* en[] = {"en"};
    EXPECT_STREQ(localeFor(en, 1), "en_US");
    EXPECT_STREQ(localeFor(nullptr, 0), "en_US");
    char const* hant[] = {"zh-Hant"};
    EXPECT_STREQ(localeFor(hant, 1), "zh_TW");
    char const* mixed[] = {"nl", nullptr, "zh-Hans", "de"};
    EXPECT_STREQ(localeFor(mixed, 4), "zh_CN");
}

TEST(PlatformServices, LocaleFromEnvironmentFollowsGettextPrecedence) {
    for (char const* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) unsetenv(name);
    EXPECT_EQ(localeFromEnvironment(), "en_US");
    setenv("LANG", "de_DE.UTF-8", 1);
    setenv("LC_MESSAGES", "ja_JP.UTF-8", 1);
    EXPECT_EQ(localeFromEnvironment(), "ja_JP");
    setenv("LC_ALL", "zh_TW.UTF-8", 1);
    EXPECT_EQ(localeFromEnvironment(), "zh_TW");
    setenv("LANGUAGE", "nl_NL:pt_PT.UTF-8:de", 1);
    EXPECT_EQ(localeFromEnvironment(), "pt_BR");
    setenv("LANGUAGE", "en_GB::zh@latin", 1);
    EXPECT_EQ(localeFromEnvironment(), "zh_CN");
    setenv("LANGUAGE", "en", 1);  // an explicit English wins over LC_ALL
    EXPECT_EQ(localeFromEnvironment(), "en_US");
    setenv("LANGUAGE", std::string(5000, ':').append("fr").c_str(), 1);
    EXPECT_EQ(localeFromEnvironment(), "fr_FR");

    std::string first = preferredLocale();
    setenv("LANGUAGE", first == "ko_KR" ? "ru" : "ko", 1);
    EXPECT_EQ(preferredLocale(), first);  // fixed for the life of the process
}

TEST(PlatformServices, PpiFromModelTableElseBackingWidth) {
    EXPECT_EQ(ppiFor("iPad1,1", 2208), 132);
    EXPECT_EQ(ppiFor("iPod3,1", 0), 163);
    EXPECT_EQ(ppiFor("iPad3,4", 0), 264);
    EXPECT_EQ(ppiFor("iPod7,1", 0), 326);
    EXPECT_EQ(ppiFor("x86_64", 2208), 401);
    EXPECT_EQ(ppiFor("x86_64", 1242), 326);
    EXPECT_EQ(ppiFor("", 2048), 264);
    EXPECT_EQ(ppiFor(nullptr, 1024), 132);
    EXPECT_EQ(ppiFor("iPhone9,9", 2732), 264);
}

TEST(PlatformServices, DeviceOverridesSelectLowEndAndTabletPaths) {
    setenv("ZELV_DEVICE_MODEL", "iPod5,1", 1);
    EXPECT_TRUE(isLowEndDevice());
    EXPECT_EQ(screenPPI(), 326);
    setenv("ZELV_DEVICE_MODEL", "iPhone4,1", 1);
    EXPECT_FALSE(isLowEndDevice());
    unsetenv("ZELV_DEVICE_MODEL");
    EXPECT_FALSE(isLowEndDevice());
    setenv("ZELV_TABLET", "1", 1);
    EXPECT_TRUE(isPad());
    setenv("ZELV_TABLET", "0", 1);
    EXPECT_FALSE(isPad());
    unsetenv("ZELV_TABLET");
}

TEST(PlatformServices, ClockStartsNearZeroAndNeverGoesBack) {
    int64_t first = nowMs();
    EXPECT_GE(first, 0);
    EXPECT_LT(first, 60 * 1000);
    int64_t prev = first;
    for (int i = 0; i < 1000; ++i) {
        int64_t t = nowMs();
        ASSERT_GE(t, prev);
        prev = t;
    }
}
