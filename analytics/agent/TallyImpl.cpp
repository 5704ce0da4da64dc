#include "analytics/agent/TallyImpl.h"

#include "analytics/agent/TallyAutoIncrement.h"
#include "analytics/agent/TallyBackgroundTaskTracker.h"
#include "analytics/agent/TallyClock.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyPreCacheEventManager.h"
#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyHttpAsyncTask.h"
#include "analytics/delivery/TallyPulseCBReportSender.h"
#include "analytics/delivery/TallyPulseSessionSeam.h"
#include "analytics/delivery/TallyTransaction.h"
#include "platform/base/DeviceFacts.h"

namespace {

std::mutex classLock;
// Never destroyed: the agent may still be in use while the process's statics go away.
std::shared_ptr<TallyImpl>& singleton() {
    static auto* s = new std::shared_ptr<TallyImpl>;
    return *s;
}
std::shared_ptr<TallyImpl>& handle() {
    static auto* h = new std::shared_ptr<TallyImpl>;
    return *h;
}

// Whether the stored remote configuration switches analytics off.
bool analyticsSwitchedOff() {
    bool off = false;
    TallyGlobalPersistentManager::sharedInstance()->processReadOperationForPersistentGlobalsMapSync(
        [&](Value::Dict const& map) {
            auto it = map.find("pulseSettings");
            if (it == map.end() || it->second.isNull()) return;
            auto pulse = it->second.objectAs<TallyPulseSettings>();
            off = pulse && !pulse->analyticsEnabled();
        });
    return off;
}

// The configuration and purchase code reach the current session through the façade.
void installSessionSeam() {
    TallyPulseSessionSeam seam;
    seam.currentSessionStartTime = [] {
        auto f = TallyImpl::currentSession();
        return f ? f->startTime() : std::nullopt;
    };
    seam.currentSessionEndTime = [] {
        auto f = TallyImpl::currentSession();
        return f ? f->endTime() : std::nullopt;
    };
    seam.recordEvent = [](std::string const& name, Value::Dict const& params, bool timed,
                          std::shared_ptr<TallyTransaction> const& transaction) -> int32_t {
        auto f = TallyImpl::currentSession();
        return f ? f->recordEvent(name, params, timed, transaction) : TallyImpl::kInvalid;
    };
    TallyPulseSessionSeam::install(std::move(seam));
}

}  // namespace

std::shared_ptr<TallyImpl> TallyImpl::instance() {
    std::lock_guard lock(classLock);
    if (!singleton()) singleton() = std::make_shared<TallyImpl>();
    return singleton();
}

void TallyImpl::cleanup() {
    std::shared_ptr<TallyImpl> impl;
    {
        std::lock_guard lock(classLock);
        impl = singleton();
    }
    if (!impl) return;
    // Drained without any class lock held, so queued blocks that take one can finish.
    impl->queue_->sync([] {});
    {
        std::lock_guard lock(classLock);
        if (singleton() == impl) singleton().reset();
        if (handle() == impl) handle().reset();
    }
    impl->queue_->sync([&] {
        impl->session_.reset();
        impl->published_.store(nullptr);
    });
    TallySession::setCurrentSession(nullptr);
    TallyDataSender::cleanup();
}

std::shared_ptr<TallyImpl> TallyImpl::currentSession() {
    std::lock_guard<std::recursive_mutex> lock(TallySession::classLock());
    std::lock_guard inner(classLock);
    return handle();
}

void TallyImpl::setupCurrentSessionWithKey(std::optional<std::string> const& key) {
    auto impl = instance();
    {
        std::lock_guard<std::recursive_mutex> lock(TallySession::classLock());
        std::lock_guard inner(classLock);
        handle() = impl;
    }
    impl->setupForApiKey(key);
}

TallyImpl::TallyImpl() : queue_(std::make_shared<platform::WorkQueue>(kQueueLabel)) {
    TallyUtil::registerArchiveClasses();
    auto queue = queue_;
    queue_->async([queue] {
        TallyDataSender::setupInstanceWithQueue(queue, TallyBackgroundTaskTracker::defaultTracker());
        if (auto sender = TallyDataSender::instance()) sender->setHttpAsyncTaskClass(&TallyHttpAsyncTask::taskClass());
    });
    queue_->async([queue] { TallyPulseCBReportSender::setupInstanceWithQueue(queue); });
    installSessionSeam();
    isBackgroundSupported_ = platform::DeviceFacts::profile().multitaskingSupported;
}

std::optional<std::string> TallyImpl::apiKey() const {
    std::lock_guard lock(apiKeyLock_);
    return apiKey_;
}

void TallyImpl::setupForApiKey(std::optional<std::string> const& key) {
    {
        std::lock_guard lock(apiKeyLock_);
        apiKey_ = key;
    }
    queue_->async([this, self = shared_from_this(), key] {
        TallyAutoIncrement::instance()->resetAll();
        platform::Date const now = TallyClock::now();
        if (!session_) {
            if (!key) return;
            TallyPreCacheEventManager::sharedInstance()->processWriteSync(
                [&](TallyPreCacheEventManager::PreCacheLog& log) { session_ = TallySession::sessionWithApiKey(*key, now, log); });
        } else {
            session_->archiveSession();
            session_ = key ? session_->sessionWithNewEventsWithApiKey(*key, now) : nullptr;
        }
        published_.store(session_);
        TallySession::setCurrentSession(session_);
    });
}

template <class F>
void TallyImpl::forward(F f) {
    queue_->async([this, self = shared_from_this(), f = std::move(f)] {
        if (session_) f(*session_);
    });
}

template <class T, class F>
T TallyImpl::get(T fallback, F f) {
    T out = fallback;
    queue_->sync([&] {
        if (session_) out = f(*session_);
    });
    return out;
}

void TallyImpl::setLatitude(double la, double lo, float h, float v) {
    forward([=](TallySession& s) { s.setLatitude(la, lo, h, v); });
}
void TallyImpl::setEventLoggingEnabled(bool on) { forward([=](TallySession& s) { s.setEventLoggingEnabled(on); }); }
void TallyImpl::setUserID(std::optional<std::string> id) { forward([=](TallySession& s) { s.setUserID(id); }); }
void TallyImpl::setSessionReportsOnCloseEnabled(bool on) {
    forward([=](TallySession& s) { s.setSessionReportsOnCloseEnabled(on); });
}
void TallyImpl::setSessionReportsOnPauseEnabled(bool on) {
    forward([=](TallySession& s) { s.setSessionReportsOnPauseEnabled(on); });
}
void TallyImpl::setCrashReportingEnabled(bool on) { forward([=](TallySession& s) { s.setCrashReportingEnabled(on); }); }
void TallyImpl::maybeIncrementPageView() { forward([](TallySession& s) { s.maybeIncrementPageView(); }); }
void TallyImpl::setGenderAsString(std::optional<std::string> g) { forward([=](TallySession& s) { s.setGenderAsString(g); }); }
void TallyImpl::setAgeInYears(int age) { forward([=](TallySession& s) { s.setAgeInYears(age); }); }
void TallyImpl::endTimedEvent(std::optional<std::string> name, std::optional<Value::Dict> parameters) {
    forward([=](TallySession& s) { s.endTimedEvent(name, parameters); });
}
void TallyImpl::recordError(std::optional<std::string> id, std::optional<std::string> message,
                            std::optional<TallySession::ExceptionInfo> exception, std::optional<Data> report) {
    forward([=](TallySession& s) { s.recordError(id, message, exception, report); });
}
void TallyImpl::recordError(std::optional<std::string> id, std::optional<std::string> message,
                            std::optional<platform::Error> error, std::optional<Data> report) {
    forward([=](TallySession& s) { s.recordError(id, message, error, report); });
}
void TallyImpl::recordError(std::optional<std::string> id, std::optional<std::string> message, std::string exception,
                            int type, std::optional<Data> report) {
    forward([=](TallySession& s) { s.recordError(id, message, exception, type, report); });
}
void TallyImpl::recordTransaction(SKPaymentTransaction transaction, TransactionStatusCallback statusCallback) {
    queue_->async([this, self = shared_from_this(), transaction = std::move(transaction),
                   statusCallback = std::move(statusCallback)]() mutable {
        if (session_)
            session_->recordTransaction(std::move(transaction), std::move(statusCallback));
        else if (statusCallback)
            statusCallback(0);
    });
}
void TallyImpl::markSessionAsResuming() { forward([](TallySession& s) { s.markSessionAsResuming(); }); }
void TallyImpl::resumeSession() { forward([](TallySession& s) { s.resumeSession(); }); }
uint64_t TallyImpl::registerBackgoundTask() {
    static std::atomic<uint64_t> next{TallyBackgroundTaskTracker::kInvalidTask};
    return instance()->isBackgroundSupported() ? ++next : TallyBackgroundTaskTracker::kInvalidTask;
}

void TallyImpl::unregisterBackgoundTask(uint64_t task) {
    if (task == TallyBackgroundTaskTracker::kInvalidTask) return;
    TallyUtil::log(2, "Tally: background task " + std::to_string(task) + " ended");
}

void TallyImpl::pauseSession() {
    // The pause (which archives and may send) finishes even if the app goes away right after.
    uint64_t const task = isBackgroundSupported_ ? registerBackgoundTask() : TallyBackgroundTaskTracker::kInvalidTask;
    forward([task](TallySession& s) {
        s.pauseSession();
        unregisterBackgoundTask(task);
    });
}
void TallyImpl::endSessionAsync() { forward([](TallySession& s) { s.endSession(); }); }
void TallyImpl::sendSessionsToServerForCreateSession() {
    forward([](TallySession& s) { s.sendSessionsToServerForCreateSession(); });
}
void TallyImpl::removeInstallationIDFromKeychain() {
    forward([](TallySession&) { TallySession::removeInstallationIDFromKeychain(); });
}
void TallyImpl::setEndTime(std::optional<platform::Date> date) { forward([=](TallySession& s) { s.setEndTime(date); }); }

void TallyImpl::endSession() {
    queue_->sync([this] {
        if (session_) session_->endSession();
    });
}

double TallyImpl::latitude() { return get(0.0, [](TallySession& s) { return s.latitude(); }); }
double TallyImpl::longitude() { return get(0.0, [](TallySession& s) { return s.longitude(); }); }
double TallyImpl::accuracy() { return get(0.0, [](TallySession& s) { return double(s.accuracy()); }); }
int TallyImpl::gender() { return get(0, [](TallySession& s) { return s.gender(); }); }
std::optional<platform::Date> TallyImpl::age() {
    return get(std::optional<platform::Date>(), [](TallySession& s) { return s.age(); });
}
int TallyImpl::pageViewCount() { return get(0, [](TallySession& s) { return s.pageViewCount(); }); }
std::optional<platform::Date> TallyImpl::pauseTime() {
    return get(std::optional<platform::Date>(), [](TallySession& s) { return s.pauseTime(); });
}
std::optional<platform::Date> TallyImpl::startTime() {
    return get(std::optional<platform::Date>(), [](TallySession& s) { return std::optional(s.startTime()); });
}
std::optional<platform::Date> TallyImpl::endTime() {
    return get(std::optional<platform::Date>(), [](TallySession& s) { return s.endTime(); });
}
std::optional<platform::Date> TallyImpl::initialTimestamp() {
    return get(std::optional<platform::Date>(), [](TallySession& s) { return std::optional(s.initialTimestamp()); });
}
int64_t TallyImpl::totalPauseIntervalMillis() {
    return get(int64_t(0), [](TallySession& s) { return s.totalPauseIntervalMillis(); });
}
bool TallyImpl::isTallyUserInfo(Value::Dict const& info) {
    return get(false, [&](TallySession& s) { return s.tallyUserInfo(info); });
}
std::optional<std::string> TallyImpl::installationIDForSessionReport() {
    return get(std::optional<std::string>(),
               [](TallySession&) { return std::optional(TallySession::installationIDForSessionReport()); });
}
void TallyImpl::withSession(std::function<void(TallySession*)> const& block) {
    queue_->sync([&] { block(session_.get()); });
}

int TallyImpl::recordEvent(std::optional<std::string> name, std::optional<Value::Dict> parameters, bool timed,
                           std::shared_ptr<platform::Archivable> transaction) {
    if (analyticsSwitchedOff()) return kAnalyticsDisabled;
    int status = kAccepted;
    auto const session = published_.load();
    if (!name || name->empty())
        status = kInvalid;
    else if (parameters && parameters->size() > TallyEvent::kMaxParameters)
        status = kTooManyParameters;
    else if (session && session->publishedEventNameCount() >= size_t(TallySessionInfo::maxEventCounts()))
        status = kTooManyNames;
    else if (session && session->publishedEventLogCount() >= size_t(TallySessionInfo::maxEventLogCount()))
        status = kLogFull;
    std::lock_guard lock(intakeLock_);
    // The event joins the queued hand-over only while nothing has been queued behind it, so it
    // never overtakes a later call; otherwise a new hand-over goes to the back of the queue and
    // takes the events from a new chunk on.
    bool const behind = !handOverQueued_ || queue_->submitted() != handOverPlace_;
    if (behind) {
        if (handOverQueued_) ends_.push_back(chunksTaken_ + intake_.size());
        handOverPlace_ = queue_->async([this, self = shared_from_this()] { handOverEvents(); });
        handOverQueued_ = true;
    }
    if (behind || intake_.empty() || intake_.back()->count == Chunk::kSize) {
        if (freeChunks_.empty()) {
            intake_.push_back(std::make_unique<Chunk>());
        } else {
            intake_.push_back(std::move(freeChunks_.back()));
            freeChunks_.pop_back();
        }
    }
    Chunk& chunk = *intake_.back();
    chunk.events[chunk.count++] = PendingEvent{std::move(name), std::move(parameters), timed, std::move(transaction)};
    return status;
}

void TallyImpl::handOverEvents() {
    {
        std::lock_guard lock(intakeLock_);
        size_t n = intake_.size();
        if (!ends_.empty()) {
            n = size_t(ends_.front() - chunksTaken_);  // an older hand-over: its own chunks only
            ends_.pop_front();
        } else {
            handOverQueued_ = false;
        }
        handing_.insert(handing_.end(), std::make_move_iterator(intake_.begin()),
                        std::make_move_iterator(intake_.begin() + std::ptrdiff_t(n)));
        intake_.erase(intake_.begin(), intake_.begin() + std::ptrdiff_t(n));
        chunksTaken_ += n;
    }
    for (auto& chunk : handing_) {
        for (size_t i = 0; i < chunk->count; ++i) {
            PendingEvent& e = chunk->events[i];
            TallyUtil::guarded([&] {
                if (session_) session_->recordEvent(e.name, e.parameters, e.timed, e.transaction);
            });
            e = PendingEvent{};
        }
        chunk->count = 0;
    }
    std::lock_guard lock(intakeLock_);
    for (auto& chunk : handing_)
        if (freeChunks_.size() < kMaxFreeChunks) freeChunks_.push_back(std::move(chunk));
    handing_.clear();
}
