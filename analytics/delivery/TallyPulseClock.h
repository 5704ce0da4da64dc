#pragma once
// The time the configuration and callback code goes by: the wall clock, carried along by the SDK
// loop's clock, so that a test's virtual clock also moves retry expiry, report delays and
// configuration lifetimes.
class TallyPulseClock {
public:
    // Seconds since 1970.
    static double now();
};
