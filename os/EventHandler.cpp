#include "os/EventHandler.h"

#include <algorithm>
#include <cstdio>

EventHandler::EventHandler() {
    queue_.reserve(256);
    added_.reserve(64);
}

void EventHandler::subscribe(uint32_t id, std::function<void()>* slot, std::function<void()> const* copyOf) {
    if (id == 0 || !slot) return;
    if (id == delivering_) {
        added_.push_back({id, slot, copyOf});
        return;
    }
    slots_[id].push_back(slot);
}

void EventHandler::unsubscribe(uint32_t id, std::function<void()>* slot) {
    if (id == 0 || !slot) return;
    if (id == delivering_) {
        // Still waiting to be added: just forget it.
        auto pending = std::find_if(added_.begin(), added_.end(),
                                    [&](Change const& c) { return c.slot == slot; });
        if (pending != added_.end()) {
            added_.erase(pending);
            return;
        }
    }
    auto entry = slots_.find(id);
    if (entry == slots_.end()) return;
    auto& list = entry->second;
    auto it = std::find(list.begin(), list.end(), slot);
    if (it == list.end()) return;
    if (id == delivering_) {
        // The list is being walked right now. An original whose turn is still to come hands it to
        // a copy made during this turn; otherwise leave a hole, compacted when the turn ends.
        auto copy = std::find_if(added_.begin(), added_.end(), [&](Change const& c) { return c.copyOf == slot; });
        if (size_t(it - list.begin()) > deliveringIndex_ && copy != added_.end()) {
            *it = copy->slot;
            added_.erase(copy);
            return;
        }
        *it = nullptr;
        hasRemovals_ = true;
    } else {
        list.erase(it);
    }
}

void EventHandler::trigger(uint32_t id) {
    if (id != 0) queue_.push_back(id);
}

bool EventHandler::isQueued(uint32_t id) const { return std::find(queue_.begin(), queue_.end(), id) != queue_.end(); }

void EventHandler::dispatch() {
    if (dispatching_) return;  // a callback calling dispatch would deliver ids twice
    dispatching_ = true;
    struct EndOfDispatch {
        EventHandler* self;
        ~EndOfDispatch() {
            self->endTurn();
            self->dispatching_ = false;
        }
    } end{this};

    size_t delivered = 0;
    // The length is read again after every id: ids triggered by callbacks join this pass.
    while (delivered < queue_.size() && delivered < maxDeliveriesPerDispatch) {
        uint32_t id = queue_[delivered];
        auto entry = slots_.find(id);
        if (entry != slots_.end()) {
            // Map nodes never move, and this id's own changes wait for endTurn, so the list
            // neither grows nor shrinks while it is walked.
            delivering_ = id;
            deliveringList_ = &entry->second;
            auto& list = entry->second;
            for (size_t i = 0, n = list.size(); i < n; ++i) {
                deliveringIndex_ = i;
                if (list[i]) (*list[i])();
            }
            if (hasRemovals_ || !added_.empty()) {
                endTurn();
            } else {
                delivering_ = 0;
                deliveringList_ = nullptr;
            }
        }
        ++delivered;
    }
    if (delivered < queue_.size()) {
        static bool reported = false;
        if (!reported) {
            reported = true;
            std::fprintf(stderr, "EventHandler: more than %zu signals in one frame; the rest wait for the next\n",
                         maxDeliveriesPerDispatch);
        }
        queue_.erase(queue_.begin(), queue_.begin() + std::ptrdiff_t(delivered));
    } else {
        queue_.clear();
    }
}

void EventHandler::endTurn() {
    auto* list = deliveringList_;
    delivering_ = 0;
    deliveringList_ = nullptr;
    if (list == nullptr) return;
    if (hasRemovals_) {
        hasRemovals_ = false;
        list->erase(std::remove(list->begin(), list->end(), nullptr), list->end());
    }
    for (Change const& c : added_) list->push_back(c.slot);
    added_.clear();
}

SlotCallbackRef::SlotCallbackRef(EventHandler* handler, uint32_t signal, std::function<void()>&& callback)
    : signal_(signal), callback_(std::move(callback)), handler_(handler) {
    if (handler_) handler_->subscribe(signal_, &callback_);
}

SlotCallbackRef::SlotCallbackRef(SlotCallbackRef const& other)
    : signal_(other.signal_), callback_(other.callback_), handler_(other.handler_) {
    if (handler_) handler_->subscribe(signal_, &callback_, &other.callback_);
}

SlotCallbackRef& SlotCallbackRef::operator=(SlotCallbackRef const& other) {
    if (this == &other) return *this;
    if (handler_) handler_->unsubscribe(signal_, &callback_);
    signal_ = other.signal_;
    callback_ = other.callback_;
    handler_ = other.handler_;
    if (handler_) handler_->subscribe(signal_, &callback_);
    return *this;
}

SlotCallbackRef::~SlotCallbackRef() {
    if (handler_) handler_->unsubscribe(signal_, &callback_);
}
