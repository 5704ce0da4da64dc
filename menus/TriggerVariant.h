#pragma once
// The result of a level as the end-of-level screen receives it; the alternative's index names
// the way the level ended.
#include <boost/variant.hpp>

#include <functional>
#include <string>

#include "menus/ResultsMenu.h"

using TriggerVariant = boost::variant<ResultsMenu::NormalGameModeTriggerParameters,
                                      ResultsMenu::CollectTimeGameModeTriggerParameters,
                                      ResultsMenu::TimeAttackGameModeTriggerParameters,
                                      ResultsMenu::HardcoreGameModeTriggerParameters,
                                      ResultsMenu::HardcoreFailedGameModeTriggerParameters>;

// Shows the end-of-level screen for the level of (path, name) with its result.
using TransitToEndOfLevelCallback =
    std::function<void(TriggerVariant const& result, std::string const& path, std::string const& name)>;
