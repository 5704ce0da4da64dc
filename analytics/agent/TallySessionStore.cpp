// Stand-ins for the session's persistence, report and sending: the current session and the saved
// session blocks are kept in memory, a session's block is a small archive of its summary, and a
// send hands the blocks to a list. The same operations on files and the data sender replace them.
#include <deque>

#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"

namespace {

struct Store {
    std::mutex mutex;
    std::shared_ptr<TallySession> current;
    std::vector<Data> saved;
    std::vector<Data> sent;
};

Store& store() {
    static Store* s = new Store;
    return *s;
}

}  // namespace

void TallySession::saveToDisk() {
    std::lock_guard<std::mutex> lock(store().mutex);
    store().current = shared_from_this();
}

std::vector<Data> TallySession::savedSessions() {
    std::lock_guard<std::mutex> lock(store().mutex);
    return store().saved;
}

void TallySession::setSavedSessions(std::vector<Data> sessions) {
    std::lock_guard<std::mutex> lock(store().mutex);
    store().saved = std::move(sessions);
}

void TallySession::addToSavedSessions(std::shared_ptr<TallySession> const& session) {
    TallyUtil::log(2, "TallySession: Add session with startTime[" + Value(session->startTime()).describe() +
                          "] to saved sessions");
    Data block = session->data();
    std::lock_guard<std::mutex> lock(store().mutex);
    auto& saved = store().saved;
    saved.push_back(std::move(block));
    size_t const max = static_cast<size_t>(std::max(0, TallySessionInfo::maxSessions()));
    if (saved.size() > max) {
        TallyUtil::log(2, "TallySession: Max sessions allowed[" + std::to_string(max) + "] exceeded");
        TallyUtil::log(2, "TallySession: Removing [" + std::to_string(saved.size() - max) + "] sessions from saved sessions");
        saved.erase(saved.begin(), saved.begin() + static_cast<std::ptrdiff_t>(saved.size() - max));
    }
}

void TallySession::removeCurrentSessionFile() {
    std::lock_guard<std::mutex> lock(store().mutex);
    store().current.reset();
}

std::shared_ptr<TallySession> TallySession::unarchiveCurrentSession() {
    std::lock_guard<std::mutex> lock(store().mutex);
    return store().current;
}

std::vector<Data> TallySession::sentBlocksForTesting() {
    std::lock_guard<std::mutex> lock(store().mutex);
    return store().sent;
}

void TallySession::resetStoreForTesting() {
    std::shared_ptr<TallySession> current;
    std::lock_guard<std::mutex> lock(store().mutex);
    current = std::move(store().current);
    store().saved.clear();
    store().sent.clear();
}

Data TallySession::data() const {
    Value::Array events;
    for (auto const& e : eventLog_) events.push_back(Value(e->name()));
    Value::Dict summary{{"startTime", Value(startTime())},
                        {"events", Value(std::move(events))},
                        {"errors", Value(int64_t(errors_.size()))},
                        {"crashed", Value(crashed_)}};
    if (crashReportData_) summary["crashReportData"] = Value(*crashReportData_);
    return platform::KeyedArchive::encode(Value(std::move(summary)));
}

void TallySession::sendSessionsToServerIncludingCurrentSession(bool includeCurrent) {
    std::vector<Data> blocks = savedSessions();
    if (includeCurrent) blocks.push_back(data());
    {
        std::lock_guard<std::mutex> lock(store().mutex);
        for (auto& b : blocks) store().sent.push_back(std::move(b));
    }
    setSavedSessions({});
    resetEventLogs();
}

std::optional<Data> TallySession::dataForSending(std::vector<Data> const& datas) {
    Data body;
    for (auto const& d : datas) body.insert(body.end(), d.begin(), d.end());
    return body;
}
