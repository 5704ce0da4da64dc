// The agent's class operations as the game calls them: one session, events with their parameters,
// timed events ended by name, and refusals with their log lines.
#include <gtest/gtest.h>

#include "analytics/agent/Tally.h"

namespace {

TEST(Tally, OneSessionTimedEventsEndedByNameAndRefusals) {
    Tally::reset();
    EXPECT_EQ(Tally::logEvent("EARLY"), Tally::EventStatus::SessionNotStarted);
    Tally::startSession("QK7RZT2MHX4VN9BLC3PD");
    Tally::startSession("OTHERKEY");
    EXPECT_EQ(Tally::sessionApiKey(), "QK7RZT2MHX4VN9BLC3PD");
    Tally::logEvent("GAMECENTER_OPEN", true);
    Tally::logEvent("GAMECENTER_OPEN", true);
    Tally::endTimedEvent("GAMECENTER_OPEN", std::nullopt);
    Tally::endTimedEvent("GAMECENTER_OPEN", Tally::Parameters{{"k", true}});
    Tally::endTimedEvent("GAMECENTER_OPEN", std::nullopt);  // none open any more
    auto events = Tally::events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_TRUE(events[1].ended && events[2].ended);
    EXPECT_TRUE(std::get<bool>(events[2].parameters.at("k")));

    EXPECT_EQ(Tally::logEvent(nullptr), Tally::EventStatus::Failed);
    Tally::logEvent(nullptr, true);
    Tally::endTimedEvent(nullptr, std::nullopt);
    EXPECT_EQ(Tally::events().size(), 3u);
    char const* const refused = "Tally: Event not logged -- eventName must be of NSString type.";
    EXPECT_EQ(Tally::logLines(),
              (std::vector<std::string>{
                  "Tally: startSession has been called already. It should only be called once. Returning.", refused,
                  refused, refused}));
}

}  // namespace
