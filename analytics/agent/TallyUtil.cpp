#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallyWatchSession.h"

#include <cxxabi.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <typeinfo>

#include "analytics/agent/TallyAutoIncrement.h"
#include "analytics/agent/TallyError.h"
#include "analytics/agent/TallyEvent.h"
#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/agent/TallyiOSUtil.h"
#include "analytics/delivery/TallyTransaction.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/Digests.h"
#include "platform/base/Directories.h"
#include "platform/base/KeyedArchive.h"

namespace {

std::atomic<int32_t> gLogLevel{1};
std::atomic<bool> gShowErrors{false};

std::mutex& observerMutex() {
    static std::mutex m;
    return m;
}
std::function<void(std::string const&)>& observer() {
    static auto* o = new std::function<void(std::string const&)>;  // outlives the other statics
    return *o;
}

Value::Dict& counters() {
    static auto* c = new Value::Dict;  // outlives the other statics
    return *c;
}

// Longer texts are left unfilled: the regex engine recurses per character.
size_t constexpr kMaxTemplateLength = 4096;

bool isUrlLegal(unsigned char c) {
    if (std::isalnum(c)) return true;
    static std::string_view constexpr legal = "-_.!~*'();/?:@&=+$,#%[]";
    return c < 0x80 && legal.find(static_cast<char>(c)) != std::string_view::npos;
}

std::string percentEscape(std::string const& text, std::string const& alsoEscape) {
    static char const digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (isUrlLegal(c) && alsoEscape.find(static_cast<char>(c)) == std::string::npos) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string valueText(Value const& v) {
    if (v.string()) return *v.string();
    return v.describe();
}

}  // namespace

void TallyUtil::setLogLevel(int32_t level) { gLogLevel = level; }
int32_t TallyUtil::logLevel() { return gLogLevel; }
void TallyUtil::setShowErrorInLogEnabled(bool on) { gShowErrors = on; }
bool TallyUtil::showErrorInLogEnabled() { return gShowErrors; }

void TallyUtil::log(int32_t minLevel, std::string const& line) {
    int32_t const level = gLogLevel;
    if (level == 0 || level < minLevel) return;
    std::fprintf(stderr, "%s\n", line.c_str());
    std::function<void(std::string const&)> o;
    {
        std::lock_guard<std::mutex> lock(observerMutex());
        o = observer();
    }
    if (o) o(line);
}

void TallyUtil::setLogObserver(std::function<void(std::string const&)> o) {
    std::lock_guard<std::mutex> lock(observerMutex());
    observer() = std::move(o);
}

void TallyUtil::handleException(std::exception_ptr caught) {
    if (!gShowErrors || !caught) return;
    try {
        std::rethrow_exception(caught);
    } catch (std::exception const& e) {
        int status = 0;
        char* name = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
        std::string const typeName = status == 0 && name ? name : typeid(e).name();
        std::free(name);
        log(2, "Tally: Caught Exception in Tally Analytics Code");
        log(2, "Tally: -----------------------------------------");
        log(2, "Tally: Name:" + typeName + " Reason:" + e.what());
        log(2, "Tally: (null)");
    } catch (platform::Error const& e) {
        handleException(e);
    } catch (...) {
        handleException(std::string("(unknown exception)"));
    }
}

void TallyUtil::handleException(platform::Error const& error) {
    if (!gShowErrors) return;
    log(2, "Tally: Caught Error in Tally Analytics Code");
    log(2, "Tally: -----------------------------------------");
    log(2, "Tally: Code:" + std::to_string(error.code) + " Domain:" + error.domain);
    log(2, "Tally: " + Value(error.userInfo).describe());
}

void TallyUtil::handleException(std::string const& other) {
    if (!gShowErrors) return;
    log(2, "Tally: Caught Error in Tally Analytics Code");
    log(2, "Tally: " + other);
}

bool TallyUtil::assertNotNil(Value const* object) {
    if (object && !object->isNull()) return true;
    log(2, "+[TallyUtil assertNotNil:]: [Line 1725], obj (null) is nil");
    return false;
}

bool TallyUtil::dataExistsAtPath(std::filesystem::path const& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(path, ec);
}

void TallyUtil::registerArchiveClasses() {
    static bool const registered = [] {
        TallyEvent::registerArchiveClass();
        TallyError::registerArchiveClass();
        TallyAutoIncrement::registerArchiveClass();
        TallyPulseSettings::registerArchiveClass();
        TallySession::registerArchiveClass();
        TallyWatchSession::registerArchiveClass();
        TallyTransaction::registerArchiveClass();
        return true;
    }();
    (void)registered;
}

std::optional<Value> TallyUtil::safeUnarchiveObjectWithFile(std::filesystem::path const& path) {
    registerArchiveClasses();
    if (path.empty()) return std::nullopt;
    auto r = platform::KeyedArchive::readFromFile(path);
    switch (r.status) {
        case platform::KeyedArchive::ReadResult::Read:
            if (r.value.isNull()) return std::nullopt;
            return std::move(r.value);
        case platform::KeyedArchive::ReadResult::Corrupt: {
            std::error_code ec;
            std::filesystem::remove(path, ec);
            handleException(platform::Error{"TallyArchive", 1, {{"path", Value(path.string())}}});
            return std::nullopt;
        }
        case platform::KeyedArchive::ReadResult::Missing:
        case platform::KeyedArchive::ReadResult::Unreadable:
            return std::nullopt;
    }
    return std::nullopt;
}

void TallyUtil::archiveObject(Value const& object, std::filesystem::path const& path) {
    try {
        std::string error;
        if (!platform::KeyedArchive::writeToFile(object, path, &error))
            log(2, "+[TallyUtil _archiveObject:toPath:]: map not saved to disk at path[" + path.string() + "]");
    } catch (...) {
        log(1, "An exception occurred archiving file - deleting");
        std::error_code ec;
        std::filesystem::remove(path, ec);
        handleException(std::current_exception());
    }
}

void TallyUtil::archiveDictionary(Value const& object, std::filesystem::path const& path) {
    if (object.dict()) archiveObject(object, path);
}

std::filesystem::path TallyUtil::filePathDirectory() {
    if (!isInWatchExtension() && getSystemVersionAsAnInteger() < 50100) return platform::Directories::caches();
    std::filesystem::path const dir = platform::Directories::applicationSupport() / "TallyFiles";
    platform::Directories::create(dir);
    addSkipBackupAttributeToItemAtURL(dir);
    return dir;
}

std::filesystem::path TallyUtil::oldFilePathDirectoryUptilAgentVersion109() {
    if (getSystemVersionAsAnInteger() <= 50000) return platform::Directories::caches();
    std::filesystem::path const dir = platform::Directories::library() / "TallyFiles";
    platform::Directories::create(dir);
    return dir;
}

bool TallyUtil::addSkipBackupAttributeToItemAtURL(std::filesystem::path const& path) {
    if (!isInWatchExtension() && getSystemVersionAsAnInteger() < 50001) return false;
    return platform::Directories::excludeFromBackup(path);
}

bool TallyUtil::errorTextsPresent(bool hasErrorId, bool hasMessage) {
    if (!hasErrorId) {
        log(2, "Tally: Error not logged -- errorId must be of NSString type.");
        return false;
    }
    if (!hasMessage) {
        log(2, "Tally: Error not logged -- message must be of NSString type.");
        return false;
    }
    return true;
}

bool TallyUtil::isInWatchExtension() {
    std::string const path = platform::DeviceFacts::executablePath();
    return path.find(".appex/") != std::string::npos && path.find(".app") != std::string::npos;
}

bool TallyUtil::canvasInLandscape(std::optional<std::string> const& o) { return TallyiOSUtil::canvasInLandscape(o); }
bool TallyUtil::canvasInLandscapeRight(std::optional<std::string> const& o) {
    return TallyiOSUtil::canvasInLandscapeRight(o);
}
bool TallyUtil::canvasInLandscapeLeft(std::optional<std::string> const& o) {
    return TallyiOSUtil::canvasInLandscapeLeft(o);
}
bool TallyUtil::canvasInLandscape() { return TallyiOSUtil::canvasInLandscape(); }
bool TallyUtil::canvasInLandscapeRight() { return TallyiOSUtil::canvasInLandscapeRight(); }
bool TallyUtil::canvasInLandscapeLeft() { return TallyiOSUtil::canvasInLandscapeLeft(); }
bool TallyUtil::canvasInPortraitUpsideDown() { return TallyiOSUtil::canvasInPortraitUpsideDown(); }
bool TallyUtil::deviceInLandscape() { return TallyiOSUtil::deviceInLandscape(); }
std::string TallyUtil::getCanvasOrientation() { return TallyiOSUtil::getCanvasOrientation(); }
bool TallyUtil::isIPad() { return TallyiOSUtil::isIPad(); }
bool TallyUtil::isRetina() { return TallyiOSUtil::isRetina(); }
bool TallyUtil::isInBackground() { return TallyiOSUtil::isInBackground(); }
int64_t TallyUtil::getSystemVersionAsAnInteger() { return TallyiOSUtil::getSystemVersionAsAnInteger(); }
std::optional<std::string> TallyUtil::getIdentifierForVendor() { return TallyiOSUtil::getIdentifierForVendor(); }

std::optional<std::string> TallyUtil::decodeFromPercentEscapeString(std::string const& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return std::nullopt;
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    if (!platform::isValidUtf8(out)) return std::nullopt;
    return out;
}

std::string TallyUtil::encodeToPercentEscapeString(std::string const& text) {
    return percentEscape(text, "!*'();:@&=+$,/?%#[]");
}

std::string TallyUtil::encodeIllegalCharsToPercentEscapeString(std::string const& text) {
    return percentEscape(text, "");
}

std::optional<Value::Dict> TallyUtil::createParamKeysDictFromUrlParams(std::string const& url, std::string* header,
                                                                      std::string* keyValues) {
    size_t const q = url.find('?');
    if (q == std::string::npos) {
        if (header) *header = url;
        return std::nullopt;
    }
    if (header) *header = url.substr(0, q);
    std::string const rest = url.substr(q + 1);
    if (keyValues) *keyValues = rest;
    Value::Dict dict;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('&', start);
        if (end == std::string::npos) end = rest.size();
        std::string const piece = rest.substr(start, end - start);
        size_t const eq = piece.find('=');
        if (eq != std::string::npos) {
            size_t const eq2 = piece.find('=', eq + 1);
            dict[piece.substr(0, eq)] = Value(piece.substr(eq + 1, eq2 == std::string::npos ? std::string::npos : eq2 - eq - 1));
        }
        start = end + 1;
    }
    return dict;
}

void TallyUtil::substituteParamsInString(std::string* text, Value::Dict const& values, std::string const& pattern) {
    if (!text) return;
    if (text->size() > kMaxTemplateLength) {
        log(2, "+[TallyUtil substituteParamsInString:withValuesDictionary:forPattern:]: template too long, left as it is");
        return;
    }
    std::regex expression;
    try {
        expression = std::regex(pattern);
    } catch (std::regex_error const&) {
        return;
    }
    std::string out;
    auto begin = text->cbegin();
    std::smatch match;
    try {
        while (std::regex_search(begin, text->cend(), match, expression)) {
            out.append(begin, match[0].first);
            auto const it = values.find(match.str(0));
            if (it != values.end()) out += valueText(it->second);
            begin = match[0].second;
            if (match.length(0) == 0) {
                // An empty match would stand still: keep one character and go on.
                if (begin == text->cend()) break;
                out += *begin++;
            }
        }
    } catch (std::regex_error const&) {
        return;  // too complex for the engine: nothing changes
    }
    out.append(begin, text->cend());
    *text = std::move(out);
}

Value TallyUtil::firstElementFromArray(Value::Array const* array) {
    if (!array || array->empty()) return Value();
    return (*array)[0];
}

std::string TallyUtil::preferredLanguage() {
    if (auto l = platform::DeviceFacts::preferredLanguage()) return *l;
    Value::Dict const info = platform::DeviceFacts::bundleInfo();
    if (auto it = info.find("CFBundleLocalizations"); it != info.end() && it->second.array()) {
        Value const first = firstElementFromArray(it->second.array());
        if (first.string()) return *first.string();
    }
    return "en";
}

int32_t TallyUtil::dataChecksum(Data const& data) {
    return static_cast<int32_t>(platform::crc32(data.data(), data.size()));
}

TallyRange TallyUtil::tallyRangeOfData(Data const* needle, Data const* haystack) {
    if (!needle || !haystack || needle->empty() || needle->size() > haystack->size()) return {};
    auto it = std::search(haystack->begin(), haystack->end(), needle->begin(), needle->end());
    if (it == haystack->end()) return {};
    return {static_cast<uint64_t>(it - haystack->begin()), needle->size()};
}

Data TallyUtil::hashData(Data const& data) { return platform::sha1(data.data(), data.size()); }

std::string TallyUtil::hashDataToHexString(uint8_t const* bytes, uint64_t length) {
    if (!bytes) return {};
    return platform::hexString(bytes, static_cast<size_t>(length));
}

Data TallyUtil::dataFromHexString(std::string const& input) {
    std::string text = input;
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Data out;
    if (text.size() < 2) return out;
    auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    for (size_t i = 0; i + 1 < text.size();) {
        if (!isHex(text[i])) {
            ++i;
            continue;
        }
        char pair[3] = {text[i], text[i + 1], 0};
        out.push_back(static_cast<uint8_t>(std::strtoul(pair, nullptr, 16) & 0xFF));
        i += 2;
    }
    return out;
}

std::string TallyUtil::md5String(std::string const& text) {
    Data const d = platform::md5(reinterpret_cast<uint8_t const*>(text.data()), text.size());
    return platform::hexString(d);
}

uint32_t TallyUtil::uint32FromNSUInteger(uint64_t value) {
    return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

int32_t TallyUtil::int32FromNSInteger(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

double TallyUtil::reduceLocationPrecision(double value, int32_t places) {
    if (places == -1) return value;
    double const p = std::pow(10.0, places);
    double const scaled = value * p;
    int32_t truncated;
    if (std::isnan(scaled))
        truncated = 0;
    else if (scaled >= 2147483647.0)
        truncated = INT32_MAX;
    else if (scaled <= -2147483648.0)
        truncated = INT32_MIN;
    else
        truncated = static_cast<int32_t>(scaled);
    return truncated / p;
}

std::string TallyUtil::generateCFUUID() { return platform::newUuidString(); }
std::string TallyUtil::generateCFUUIDBasedUID() { return "ID" + generateCFUUID(); }

std::recursive_mutex& TallyUtil::classLock() {
    static std::recursive_mutex m;
    return m;
}

Value::Dict TallyUtil::allCounters() {
    std::lock_guard<std::recursive_mutex> lock(classLock());
    return counters();
}

namespace {
void stepCounter(std::string const& name, int64_t step) {
    if (TallyUtil::logLevel() < 2) return;
    std::lock_guard<std::recursive_mutex> lock(TallyUtil::classLock());
    auto it = counters().find(name);
    int64_t const now = it == counters().end() ? step : it->second.toInt64().value_or(0) + step;
    counters()[name] = Value(now);
}
}  // namespace

void TallyUtil::incrementCounter(std::string const& name) { stepCounter(name, 1); }
void TallyUtil::decrementCounter(std::string const& name) { stepCounter(name, -1); }
void TallyUtil::incrementCounter(std::string const& name, char const* location) {
    stepCounter(name + "_location_" + (location ? location : "(null)"), 1);
}
void TallyUtil::decrementCounter(std::string const& name, char const* location) {
    stepCounter(name + "_location_" + (location ? location : "(null)"), -1);
}

void TallyUtil::printCounters() {
    if (logLevel() < 2) return;
    Value::Dict const all = allCounters();
    log(2, "=========== Printing All Counters [name, value] ===========");
    for (auto const& [name, value] : all) {
        char line[160];
        std::snprintf(line, sizeof line, "[%-100s=> %5d]", name.c_str(), static_cast<int>(value.toInt64().value_or(0)));
        log(2, line);
    }
    log(2, "===========================================================");
}
