#pragma once
// The agent's utility class: the log gate and exception reporter, keyed archives and the data
// folder, text and URL helpers, checksums and digests, clamps, template filling, the debug
// counters, and the device probes and stored flags (opt-out, cookies, salt).
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <string>

#include "platform/base/ForkedChild.h"
#include "platform/base/Value.h"

using platform::Data;
using platform::Value;

struct TallyRect {
    double x = 0, y = 0, width = 0, height = 0;
    bool operator==(TallyRect const&) const = default;
};

struct TallyRange {
    uint64_t location = 0, length = 0;
    bool operator==(TallyRange const&) const = default;
};

class TallyUtil {
public:
    // Log gate: level 0 prints nothing, 1 (the start) only lines gated at 1, 2 and up everything.
    static void setLogLevel(int32_t level);
    static int32_t logLevel();
    static void setShowErrorInLogEnabled(bool on);
    static bool showErrorInLogEnabled();
    // Prints the line to stderr when the log level is at least minLevel.
    static void log(int32_t minLevel, std::string const& line);
    // Whether a line at that level would print, so hot paths build no text for nothing.
    static bool logs(int32_t minLevel) {
        int32_t const level = logLevel();
        return level != 0 && level >= minLevel;
    }
    // Where printed lines go besides stderr (tests); empty to stop.
    static void setLogObserver(std::function<void(std::string const&)> observer);

    // Reports a caught exception or error when errors are shown; never throws.
    static void handleException(std::exception_ptr caught);
    static void handleException(platform::Error const& error);
    static void handleException(std::string const& other);
    // Runs an entry point's body, as library work (see platform::LibraryWork); anything it
    // throws goes to handleException.
    template <class F>
    static void guarded(F&& body) noexcept {
        platform::LibraryWork call(platform::LibraryWork::Kind::PublicCall);
        try {
            body();
        } catch (...) {
            handleException(std::current_exception());
        }
    }
    static void assertThreadIsNotMain() {}
    static bool assertNotNil(Value const* object);

    // Keyed archives and files.
    static bool dataExistsAtPath(std::filesystem::path const& path);
    // The archived value, or nothing. A file read whole that does not decode is deleted; one that
    // cannot be read (an error, or too large) is left alone.
    static std::optional<Value> safeUnarchiveObjectWithFile(std::filesystem::path const& path);
    static std::optional<Value> safeUnarchiveObjectFromFSWithFile(std::filesystem::path const& path) {
        return safeUnarchiveObjectWithFile(path);
    }
    // Makes every archived agent class readable (once; called by the reads themselves).
    static void registerArchiveClasses();
    static void archiveObject(Value const& object, std::filesystem::path const& path);
    // Writes only dictionaries; anything else is ignored.
    static void archiveDictionary(Value const& object, std::filesystem::path const& path);
    static std::filesystem::path filePathDirectory();
    static std::filesystem::path oldFilePathDirectoryUptilAgentVersion109();
    static bool addSkipBackupAttributeToItemAtURL(std::filesystem::path const& path);

    // Environment, and the device facts forwarded to TallyiOSUtil.
    static bool isInWatchExtension();
    // The error calls' text checks: a missing identifier or message is refused with its message.
    static bool errorTextsPresent(bool hasErrorId, bool hasMessage);
    static bool canvasInLandscape(std::optional<std::string> const& orientation);
    static bool canvasInLandscapeRight(std::optional<std::string> const& orientation);
    static bool canvasInLandscapeLeft(std::optional<std::string> const& orientation);
    static bool canvasInLandscape();
    static bool canvasInLandscapeRight();
    static bool canvasInLandscapeLeft();
    static bool canvasInPortraitUpsideDown();
    static bool deviceInLandscape();
    static std::string getCanvasOrientation();
    static bool isIPad();
    static bool isRetina();
    static bool isInBackground();
    static int64_t getSystemVersionAsAnInteger();
    static std::optional<std::string> getIdentifierForVendor();

    // Text, URLs and collections.
    // Nothing when an escape is malformed or the result is not UTF-8.
    static std::optional<std::string> decodeFromPercentEscapeString(std::string const& text);
    static std::string encodeToPercentEscapeString(std::string const& text);
    static std::string encodeIllegalCharsToPercentEscapeString(std::string const& text);
    static std::optional<Value::Dict> createParamKeysDictFromUrlParams(std::string const& url, std::string* header,
                                                                      std::string* keyValues);
    // Fills a template in place: each match of the pattern is looked up whole (delimiters
    // included) and replaced by its value, or "" when absent. One pass from left to right that
    // resumes after each inserted value, so values are never matched again.
    static void substituteParamsInString(std::string* text, Value::Dict const& values, std::string const& pattern);
    static Value firstElementFromArray(Value::Array const* array);
    static std::string preferredLanguage();

    // Bytes, checksums and hashes.
    static int32_t dataChecksum(Data const& data);
    static TallyRange tallyRangeOfData(Data const* needle, Data const* haystack);
    static Data hashData(Data const& data);
    static std::string hashDataToHexString(uint8_t const* bytes, uint64_t length);
    static Data dataFromHexString(std::string const& text);
    static std::string md5String(std::string const& text);

    // Numbers.
    static uint32_t uint32FromNSUInteger(uint64_t value);
    static int32_t int32FromNSInteger(int64_t value);
    static double reduceLocationPrecision(double value, int32_t places);

    // Identifiers.
    static std::string generateCFUUID();
    static std::string generateCFUUIDBasedUID();

    // Debug counters (only from log level 2).
    static Value::Dict allCounters();
    static void incrementCounter(std::string const& name);
    static void decrementCounter(std::string const& name);
    static void incrementCounter(std::string const& name, char const* location);
    static void decrementCounter(std::string const& name, char const* location);
    static void printCounters();

    // Device probes.
    static std::string devicePlatform();
    static TallyRect deviceScreenBounds();
    static uint64_t getFreeDiskspace();
    static uint64_t getDiskSize();
    static int64_t lastBootTime();
    static std::optional<std::string> getTallyId();
    static bool isAdTrackingEnabled();
    static Data getFixedSalt();

    // Stored flags.
    static void cleanupStoredIdentifierForVendor();
    static void setTallyOptOut(bool optOut);
    static bool hasUserOptedOut();
    // Whether the cookie map changed; an empty or absent value removes the cookie.
    static bool updateIfChangedCookieValue(Data const* value, std::string const& key);
    static constexpr size_t kMaxCookies = 1000;

    // The class lock shared by the counters, the opt-out flag and the advertising identifier.
    static std::recursive_mutex& classLock();
};

// Process samplers.
float cpuUsagePercent();
uint64_t wiredMemoryBytes();
uint64_t activeMemoryBytes();
uint64_t inactiveMemoryBytes();
uint64_t freeMemoryBytes();
