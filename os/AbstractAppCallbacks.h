#pragma once
// The callbacks the app frame hands its screens. A screen moves the flow on only by calling one
// of them; the call is its last act (the frame may have replaced it by the time it returns).
// The two that carry menu types (the end-of-level result and the question box's parameters)
// are declared beside those types.
#include <boost/optional.hpp>

#include <functional>
#include <memory>
#include <string>

#include "os/ViewController.h"

// startLevel(path, name, restart, skipTutorial, hardcore).
using StartLevelCallback =
    std::function<void(std::string const& path, std::string const& name, bool restart, bool skipTutorial, bool hardcore)>;
// The main-menu loader plays the video first when one is given.
using TransitToMainMenuCallback = std::function<void(boost::optional<std::string> const& video)>;
// Goes to the main menu without a video; always true.
using ReturnToMainMenuCallback = std::function<bool()>;
// Pauses the level of (path, name).
using TriggerPauseMenuCallback = std::function<void(std::string const& path, std::string const& name)>;
// Suspends cloud sync and makes the given (game) screen current again; the caller is deleted
// once the frame call that reached it returns.
using ResumeFromPauseCallback = std::function<void(std::unique_ptr<ViewController>&&)>;

namespace os {
// Names, in an app frame's Impl, a screen or type whose issue has not landed yet: the
// transition that would build it leaves the current screen in place.
struct Pending {};
}  // namespace os
