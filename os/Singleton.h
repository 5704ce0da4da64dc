#pragma once
// One lazily built, never destroyed instance per type. Built on first use from whichever thread
// gets there first (decode workers may be first to touch the file system).

template <class T>
class Singleton {
public:
    static T& instance() {
        static T* const made = make();
        return *made;
    }

    // The instance once made; null before. Tests may preset it to install their own object.
    static inline T* _instance = nullptr;

private:
    static T* make() {
        if (!_instance) _instance = new T();
        return _instance;
    }
};
