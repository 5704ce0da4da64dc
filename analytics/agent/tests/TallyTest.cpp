// The agent's class operations as the game calls them: one session, events with their parameters,
// timed events ended by name, and refusals with their log lines.
#include <gtest/gtest.h>

#include "analytics/agent/Tally.h"

namespace {

TEST(Tally, SessionStartsOnceAndEventsAreRecorded) {
    Tally::reset();
    EXPECT_EQ(Tally::logEvent("EARLY"), Tally::EventStatus::SessionNotStarted);
    Tally::startSession("QK7RZT2MHX4VN9BLC3PD");
    Tally::startSession("OTHERKEY");
    EXPECT_EQ(Tally::sessionApiKey(), "QK7RZT2MHX4VN9BLC3PD");
    EXPECT_EQ(Tally::logLines(),
              (std::vector<std::string>{
                  "Tally: startSession has been called already. It should only be called once. Returning."}));
    EXPECT_EQ(Tally::logEvent("LEVELPLAYED", Tally::Parameters{{"level", std::string("a")}, {"deaths", uint64_t(2)}}),
              Tally::EventStatus::Logged);
    auto events = Tally::events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::get<uint64_t>(events[1].parameters.at("deaths")), 2u);
}

TEST(Tally, TimedEventsEndFirstOpenOneOfTheName) {
    Tally::reset();
    Tally::startSession("K");
    Tally::logEvent("GAMECENTER_OPEN", true);
    Tally::logEvent("GAMECENTER_OPEN", true);
    Tally::endTimedEvent("GAMECENTER_OPEN", std::nullopt);
    auto events = Tally::events();
    EXPECT_TRUE(events[0].ended);
    EXPECT_FALSE(events[1].ended);
    Tally::endTimedEvent("GAMECENTER_OPEN", Tally::Parameters{{"k", true}});
    events = Tally::events();
    EXPECT_TRUE(events[1].ended);
    EXPECT_TRUE(std::get<bool>(events[1].parameters.at("k")));
    // Nothing open any more: nothing changes.
    Tally::endTimedEvent("GAMECENTER_OPEN", std::nullopt);
    Tally::endTimedEvent("UNKNOWN", std::nullopt);
    EXPECT_EQ(Tally::events().size(), 2u);
}

TEST(Tally, NamesThatAreNotTextAreRefusedWithTheLogLine) {
    Tally::reset();
    EXPECT_EQ(Tally::logEvent(nullptr), Tally::EventStatus::Failed);
    Tally::logEvent(nullptr, true);
    Tally::endTimedEvent(nullptr, std::nullopt);
    EXPECT_TRUE(Tally::events().empty());
    auto lines = Tally::logLines();
    ASSERT_EQ(lines.size(), 3u);
    for (auto const& l : lines) EXPECT_EQ(l, "Tally: Event not logged -- eventName must be of NSString type.");
}

}  // namespace
