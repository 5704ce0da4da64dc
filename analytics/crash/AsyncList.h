#pragma once
// A list that a signal handler can walk while another thread changes it. Writers take a
// spin lock; readers only raise a count, and a node that a reader may still be on is never
// freed or reused until the count is back at zero.
#include <atomic>
#include <cstdint>

template <typename V>
class AsyncSafeList {
public:
    struct Node {
        V value;
        Node* prev;
        std::atomic<Node*> next;
    };

    AsyncSafeList() = default;
    AsyncSafeList(const AsyncSafeList&) = delete;
    AsyncSafeList& operator=(const AsyncSafeList&) = delete;
    ~AsyncSafeList() { clear(); }

    void append(const V& value) {
        lock();
        Node* node = takeNode(value);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        Node* tail = tail_;
        if (tail != nullptr) {
            Node* expected = nullptr;
            tail->next.compare_exchange_strong(expected, node);
            node->prev = tail;
            tail_ = node;
        } else {
            tail_ = node;
            Node* expected = nullptr;
            head_.compare_exchange_strong(expected, node);
        }
        unlock();
    }

    void prepend(const V& value) {
        lock();
        Node* node = takeNode(value);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        Node* head = head_.load();
        if (head != nullptr) {
            node->next.store(head);
            head->prev = node;
            std::atomic_thread_fence(std::memory_order_seq_cst);
            head_.compare_exchange_strong(head, node);
        } else {
            tail_ = node;
            Node* expected = nullptr;
            head_.compare_exchange_strong(expected, node);
        }
        unlock();
    }

    // Removes the first node whose value matches; false when there is none.
    template <typename Match>
    bool removeFirst(Match match) {
        lock();
        Node* node = head_.load();
        while (node != nullptr && !match(node->value))
            node = node->next.load();
        if (node == nullptr) {
            unlock();
            return false;
        }
        unlink(node);
        unlock();
        return true;
    }

    // Unlinks every node (exit-time teardown and handler reset).
    void clear() {
        lock();
        while (Node* node = head_.load())
            unlink(node);
        if (readers_.load() == 0)
            releaseFreeList();
        unlock();
    }

    // Readers bracket their walk with these; walking uses head() and Node::next.
    void setReading(bool on) {
        if (on)
            readers_.fetch_add(1);
        else
            readers_.fetch_sub(1);
    }
    Node* head() const { return head_.load(); }
    int32_t readerCount() const { return readers_.load(); }

    // Nodes kept aside for readers that may still be on them (for tests).
    size_t parkedNodes() {
        lock();
        size_t n = 0;
        for (Node* node = free_; node != nullptr; node = node->prev)
            ++n;
        unlock();
        return n;
    }

private:
    void lock() {
        while (lock_.test_and_set(std::memory_order_acquire)) {
        }
    }
    void unlock() { lock_.clear(std::memory_order_release); }

    Node* takeNode(const V& value) {
        Node* node = nullptr;
        // Parked nodes may only come back once no reader that saw them linked is left.
        if (free_ != nullptr && readers_.load() == 0) {
            node = free_;
            free_ = node->prev;
        }
        if (node == nullptr)
            node = new Node{value, nullptr, {nullptr}};
        node->value = value;
        node->prev = nullptr;
        node->next.store(nullptr);
        return node;
    }

    void unlink(Node* node) {
        Node* prev = node->prev;
        Node* next = node->next.load();
        if (prev == nullptr) {
            Node* expected = node;
            head_.compare_exchange_strong(expected, next);
        } else {
            Node* expected = node;
            prev->next.compare_exchange_strong(expected, next);
        }
        if (next != nullptr)
            next->prev = prev;
        else
            tail_ = prev;
        if (readers_.load() >= 1) {
            // A reader may be standing on it: keep its next link intact for that reader and
            // park it; the free list is chained through prev.
            node->prev = free_;
            free_ = node;
        } else {
            if (free_ != nullptr)
                releaseFreeList();
            delete node;
        }
    }

    void releaseFreeList() {
        while (free_ != nullptr) {
            Node* next = free_->prev;
            delete free_;
            free_ = next;
        }
    }

    std::atomic_flag lock_ = ATOMIC_FLAG_INIT;
    std::atomic<Node*> head_{nullptr};
    Node* tail_ = nullptr;
    std::atomic<int32_t> readers_{0};
    Node* free_ = nullptr;
};
