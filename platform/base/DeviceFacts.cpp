#include "platform/base/DeviceFacts.h"

#include <dirent.h>
#include <jansson.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/base/AtomicFile.h"
#include "platform/base/Digests.h"
#include "platform/base/Directories.h"

namespace platform {
namespace {

struct State {
    std::mutex mutex;
    DeviceProfile profile;
    std::optional<Value::Dict> bundleInfo;
    std::optional<std::string> executablePath;
    std::optional<std::string> systemVersion;
    std::optional<std::filesystem::path> procRoot;
    std::optional<std::filesystem::path> powerSupplyRoot;
    // Previous CPU sample: per thread id, ticks used; and when.
    std::map<std::string, uint64_t> cpuTicks;
    double cpuSampleTime = 0;
};

State& state() {
    static State* s = new State;
    return *s;
}

std::filesystem::path procRoot() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().procRoot.value_or("/proc");
}

// /proc files report a size of 0, so they are read as streams, up to a limit.
std::optional<std::string> readText(std::filesystem::path const& path, size_t limit = 1 << 20) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    if (in.bad()) return std::nullopt;
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

Value fromJson(json_t const* j) {
    if (json_is_string(j)) return Value(std::string(json_string_value(j), json_string_length(j)));
    if (json_is_integer(j)) return Value(static_cast<int64_t>(json_integer_value(j)));
    if (json_is_real(j)) return Value(json_real_value(j));
    if (json_is_boolean(j)) return Value(json_is_true(j));
    if (json_is_array(j)) {
        Value::Array a;
        for (size_t i = 0; i < json_array_size(j); ++i) a.push_back(fromJson(json_array_get(j, i)));
        return Value(std::move(a));
    }
    if (json_is_object(j)) {
        Value::Dict d;
        char const* key;
        json_t* child;
        json_object_foreach(const_cast<json_t*>(j), key, child) d[key] = fromJson(child);
        return Value(std::move(d));
    }
    return Value();
}

// utime + stime of one /proc/<pid>/task/<tid>/stat line, and its start time in ticks. The
// command name may hold spaces and parentheses: fields are counted after the last ')'.
std::optional<std::pair<uint64_t, uint64_t>> taskTicks(std::string const& line) {
    size_t const close = line.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream in(line.substr(close + 1));
    std::string field;
    uint64_t utime = 0, stime = 0, start = 0;
    // After the name: state is field 3; utime 14, stime 15, starttime 22.
    for (int n = 3; n <= 22; ++n) {
        if (!(in >> field)) return std::nullopt;
        char* end = nullptr;
        if (n == 14) utime = std::strtoull(field.c_str(), &end, 10);
        if (n == 15) stime = std::strtoull(field.c_str(), &end, 10);
        if (n == 22) start = std::strtoull(field.c_str(), &end, 10);
        if ((n == 14 || n == 15 || n == 22) && (!end || *end)) return std::nullopt;
    }
    return std::make_pair(utime + stime, start);
}

}  // namespace

void DeviceFacts::setProfile(DeviceProfile const& profile) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().profile = profile;
}

DeviceProfile DeviceFacts::profile() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().profile;
}

void DeviceFacts::setBundleInfo(std::optional<Value::Dict> info) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().bundleInfo = std::move(info);
}

Value::Dict DeviceFacts::bundleInfo() {
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        if (state().bundleInfo) return *state().bundleInfo;
    }
    std::filesystem::path const file = std::filesystem::path(executablePath()).parent_path() / "Info.json";
    auto text = readText(file);
    if (!text) return {};
    json_error_t error;
    json_t* j = json_loadb(text->data(), text->size(), 0, &error);
    Value v = j ? fromJson(j) : Value();
    json_decref(j);
    Value::Dict info = v.dict() ? *v.dict() : Value::Dict{};
    std::lock_guard<std::mutex> lock(state().mutex);
    state().bundleInfo = info;
    return info;
}

std::string DeviceFacts::executablePath() {
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        if (state().executablePath) return *state().executablePath;
    }
    // The running executable does not change: read once (hot paths ask on every event).
    // Never destroyed, as the agent's threads ask for it until the process is gone.
    static std::string const& exe = *new std::string([] {
        std::error_code ec;
        auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
        return ec ? std::string() : p.string();
    }());
    return exe;
}

void DeviceFacts::setExecutablePath(std::optional<std::string> path) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().executablePath = std::move(path);
}

std::string DeviceFacts::machine() {
    utsname u{};
    return ::uname(&u) == 0 ? std::string(u.machine) : std::string();
}

std::string DeviceFacts::systemVersion() {
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        if (state().systemVersion) return *state().systemVersion;
    }
    utsname u{};
    return ::uname(&u) == 0 ? std::string(u.release) : std::string();
}

void DeviceFacts::setSystemVersion(std::optional<std::string> text) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().systemVersion = std::move(text);
}

void DeviceFacts::setProcRoot(std::optional<std::filesystem::path> root) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().procRoot = std::move(root);
    state().cpuTicks.clear();
    state().cpuSampleTime = 0;
}

std::optional<MemoryCounts> DeviceFacts::parseMeminfo(std::string const& text) {
    std::istringstream in(text);
    std::string line;
    MemoryCounts m;
    int found = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        unsigned long long kb = 0;
        if (!(fields >> key >> kb)) continue;
        uint64_t const bytes = kb > UINT64_MAX / 1024 ? UINT64_MAX : kb * 1024;
        if (key == "MemFree:") m.freeBytes = bytes, found |= 1;
        else if (key == "Active:") m.activeBytes = bytes, found |= 2;
        else if (key == "Inactive:") m.inactiveBytes = bytes, found |= 4;
        else if (key == "Unevictable:") m.wiredBytes = bytes, found |= 8;
    }
    if ((found & 7) != 7) return std::nullopt;
    return m;
}

std::optional<MemoryCounts> DeviceFacts::memory() {
    auto text = readText(procRoot() / "meminfo");
    return text ? parseMeminfo(*text) : std::nullopt;
}

float DeviceFacts::cpuUsagePercent() {
    std::filesystem::path const root = procRoot();
    long const hz = ::sysconf(_SC_CLK_TCK);
    auto uptimeText = readText(root / "uptime");
    if (!uptimeText || hz <= 0) return -1.0f;
    char* end = nullptr;
    double const now = std::strtod(uptimeText->c_str(), &end);
    if (end == uptimeText->c_str() || now <= 0) return -1.0f;

    std::map<std::string, std::pair<uint64_t, uint64_t>> threads;
    std::error_code ec;
    for (auto const& entry : std::filesystem::directory_iterator(root / "self" / "task", ec)) {
        auto line = readText(entry.path() / "stat", 4096);
        if (!line) continue;  // the thread ended meanwhile
        auto ticks = taskTicks(*line);
        if (!ticks) return -1.0f;
        threads[entry.path().filename().string()] = *ticks;
    }
    if (ec || threads.empty()) return -1.0f;

    std::lock_guard<std::mutex> lock(state().mutex);
    State& s = state();
    double sum = 0;
    for (auto const& [tid, t] : threads) {
        auto prev = s.cpuTicks.find(tid);
        double used, elapsed;
        if (prev != s.cpuTicks.end() && s.cpuSampleTime > 0 && t.first >= prev->second) {
            used = double(t.first - prev->second) / double(hz);
            elapsed = now - s.cpuSampleTime;
        } else {
            used = double(t.first) / double(hz);
            elapsed = now - double(t.second) / double(hz);
        }
        if (elapsed > 0) sum += used / elapsed * 100.0;
    }
    s.cpuTicks.clear();
    for (auto const& [tid, t] : threads) s.cpuTicks[tid] = t.first;
    s.cpuSampleTime = now;
    return static_cast<float>(sum);
}

std::optional<int64_t> DeviceFacts::bootTime() {
    auto text = readText(procRoot() / "stat");
    if (!text) return std::nullopt;
    std::istringstream in(*text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("btime ", 0) == 0) {
            char* end = nullptr;
            long long const t = std::strtoll(line.c_str() + 6, &end, 10);
            if (end != line.c_str() + 6) return t;
        }
    }
    return std::nullopt;
}

std::optional<std::pair<uint64_t, uint64_t>> DeviceFacts::disk() {
    std::filesystem::path p = Directories::applicationSupport();
    std::error_code ec;
    while (!p.empty() && !std::filesystem::exists(p, ec) && p != p.parent_path()) p = p.parent_path();
    struct statvfs st {};
    if (p.empty() || ::statvfs(p.c_str(), &st) != 0) return std::nullopt;
    return std::make_pair(uint64_t(st.f_blocks) * st.f_frsize, uint64_t(st.f_bavail) * st.f_frsize);
}

void DeviceFacts::setPowerSupplyRoot(std::optional<std::filesystem::path> root) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().powerSupplyRoot = std::move(root);
}

int DeviceFacts::batteryState() {
    std::filesystem::path root;
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        root = state().powerSupplyRoot.value_or("/sys/class/power_supply");
    }
    std::error_code ec;
    for (auto const& entry : std::filesystem::directory_iterator(root, ec)) {
        auto type = readText(entry.path() / "type", 64);
        if (!type || type->rfind("Battery", 0) != 0) continue;
        auto status = readText(entry.path() / "status", 64);
        if (!status) return 0;
        std::string const s = status->substr(0, status->find('\n'));
        if (s == "Charging") return 2;
        if (s == "Full") return 3;
        if (s == "Discharging" || s == "Not charging") return 1;
        return 0;
    }
    return 0;
}

std::optional<std::string> DeviceFacts::preferredLanguage() {
    for (char const* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        char const* v = std::getenv(var);
        if (!v || !*v) continue;
        std::string s(v);
        s = s.substr(0, s.find_first_of(".@"));
        if (s.empty() || s == "C" || s == "POSIX") return std::nullopt;
        for (char& c : s)
            if (c == '_') c = '-';
        return s;
    }
    return std::nullopt;
}

std::optional<std::string> DeviceFacts::timeZoneName() {
    if (char const* tz = std::getenv("TZ"); tz && *tz) return std::string(tz[0] == ':' ? tz + 1 : tz);
    if (auto text = readText("/etc/timezone", 4096)) {
        std::string name = text->substr(0, text->find('\n'));
        if (!name.empty()) return name;
    }
    std::error_code ec;
    auto link = std::filesystem::read_symlink("/etc/localtime", ec).string();
    if (!ec) {
        if (auto at = link.find("zoneinfo/"); at != std::string::npos) return link.substr(at + 9);
    }
    return std::nullopt;
}

std::optional<std::string> DeviceFacts::vendorIdentifier() {
    static std::mutex m;
    std::lock_guard<std::mutex> lock(m);
    std::filesystem::path const file = Directories::applicationSupport() / "vendor-id";
    if (auto text = readText(file, 64)) {
        std::string id = text->substr(0, text->find('\n'));
        if (id.size() == 36) return id;
    }
    if (!Directories::create(file.parent_path())) return std::nullopt;
    std::string const id = newUuidString();
    if (!writeFileAtomically(file, reinterpret_cast<uint8_t const*>(id.data()), id.size())) return std::nullopt;
    return id;
}

}  // namespace platform
