#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// The frame's signal queue: ids triggered during a frame are delivered at the start of the next
// tick to every callback subscribed under that id. Main thread only. Id 0 means "no signal" and is
// never queued or subscribed.
class EventHandler {
public:
    // A signal chain that keeps re-triggering itself is cut after this many deliveries in one
    // dispatch; the rest of the queue waits for the next frame.
    static constexpr size_t maxDeliveriesPerDispatch = 4096;

    EventHandler();
    EventHandler(EventHandler const&) = delete;
    EventHandler& operator=(EventHandler const&) = delete;

    // Used by SlotCallbackRef. Changes to the id whose callbacks are running wait until its turn
    // ends (a removed callback is no longer called, an added one is not called in this turn);
    // every other id changes at once, so handles relocated by a callback miss nothing later in
    // the same pass. `copyOf` names the slot a new one copies: when that original goes before
    // its turn came, the copy takes its place in this turn (a handle moved by a growing vector).
    void subscribe(uint32_t id, std::function<void()>* slot, std::function<void()> const* copyOf = nullptr);
    void unsubscribe(uint32_t id, std::function<void()>* slot);

    void trigger(uint32_t id);
    // Delivers the queue in trigger order, including ids triggered while it runs (up to the cap).
    void dispatch();

    size_t queuedCount() const { return queue_.size(); }
    // Whether id waits in the queue for the next dispatch.
    bool isQueued(uint32_t id) const;

private:
    struct Change {
        uint32_t id;
        std::function<void()>* slot;
        std::function<void()> const* copyOf;
    };
    void endTurn();

    std::vector<uint32_t> queue_;
    std::map<uint32_t, std::vector<std::function<void()>*>> slots_;
    bool dispatching_ = false;
    uint32_t delivering_ = 0;    // the id whose callbacks are being walked, 0 between turns
    std::vector<std::function<void()>*>* deliveringList_ = nullptr;  // and its list
    size_t deliveringIndex_ = 0;  // the entry of that list being called
    bool hasRemovals_ = false;   // holes left in the delivering id's list
    std::vector<Change> added_;  // subscriptions to the delivering id made during its turn
};

// A subscription that lasts as long as the handle: subscribes its own callback on construction
// and unsubscribes it on destruction. Copies are subscribed on their own.
class SlotCallbackRef {
public:
    SlotCallbackRef(EventHandler* handler, uint32_t signal, std::function<void()>&& callback);
    SlotCallbackRef(SlotCallbackRef const& other);
    SlotCallbackRef& operator=(SlotCallbackRef const& other);
    ~SlotCallbackRef();

    uint32_t signal() const { return signal_; }

private:
    uint32_t signal_;
    std::function<void()> callback_;
    EventHandler* handler_;
};
