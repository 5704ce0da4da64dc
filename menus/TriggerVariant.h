#pragma once
// The result of a level as the end-of-level screen receives it; the alternative's index names
// the way the level ended.
#include <boost/variant.hpp>

#include "menus/ResultsMenu.h"

using TriggerVariant = boost::variant<ResultsMenu::NormalGameModeTriggerParameters,
                                      ResultsMenu::CollectTimeGameModeTriggerParameters,
                                      ResultsMenu::TimeAttackGameModeTriggerParameters,
                                      ResultsMenu::HardcoreGameModeTriggerParameters,
                                      ResultsMenu::HardcoreFailedGameModeTriggerParameters>;
