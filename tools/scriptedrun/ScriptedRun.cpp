#include "tools/scriptedrun/ScriptedRun.h"

#include <box2d/b2_body.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <utility>

#include "audio/Context.h"
#include "game/GameViewController.h"
#include "game/HardcoreGameModeStateMachine.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/shell/LevelStart.h"
#include "world/WorldConstants.h"

namespace scripted_run {

bool parseScript(std::string const& text, std::vector<Stretch>& script, std::string& error) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        long frames = 0;
        std::string keys;
        if (!(words >> frames)) {
            if (words.eof() && line.find_first_not_of(" \t\r") == std::string::npos) continue;
            error = "line " + std::to_string(number) + ": no frame count";
            return false;
        }
        if (!(words >> keys) || frames <= 0 || frames > 1000000 || keys.find_first_not_of("LRJD-") != std::string::npos) {
            error = "line " + std::to_string(number) + ": expected <frames> <keys from LRJD or ->";
            return false;
        }
        script.push_back({uint32_t(frames), keys});
    }
    return true;
}

namespace {

void mix(uint64_t& h, void const* data, size_t size) {
    auto const* p = static_cast<unsigned char const*>(data);
    for (size_t i = 0; i < size; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
}

void mixBody(uint64_t& h, b2Body const* body) {
    b2Vec2 const p = body->GetPosition();
    b2Vec2 const v = body->GetLinearVelocity();
    float const values[] = {p.x, p.y, body->GetAngle(), v.x, v.y, body->GetAngularVelocity()};
    mix(h, values, sizeof values);
}

GamepadState pad(std::string const& keys) {
    GamepadState g;
    if (keys.find('L') != std::string::npos) g.dpadX -= 1.0f;
    if (keys.find('R') != std::string::npos) g.dpadX += 1.0f;
    if (keys.find('J') != std::string::npos) g.buttonA = 1;
    if (keys.find('D') != std::string::npos) g.buttonX = 1;
    return g;
}

}  // namespace

Result run(std::string const& path, std::vector<Stretch> const& script, int maxFrames) {
    Player::resetMovementState();
    HardcoreGameModeStateMachine::resetRunTime();
    Result result;
    PristineLevel::Data level;
    if (!os::readLevelFile(path, level)) return result;
    EventHandler events;
    // The game's sound settings; without a sound device it runs silently.
    Audio::Context audio(Audio::Context::Parameters{0.001f, 0xD004u, worldViewWidth, worldViewWidth});
    int frame = 0;
    std::function<void()> answer;
    std::vector<SlotCallbackRef> reached;
    std::vector<bool> heard(level.checkPoints.size(), false);
    for (std::size_t i = 1; i < level.checkPoints.size(); ++i) {
        ++result.checkPoints;
        reached.emplace_back(&events, level.checkPoints[i].reachSignal, [&heard, &result, i] {
            if (!heard[i]) ++result.checkPointsReached;
            heard[i] = true;
        });
    }
    GameViewController game(
        nullptr, &audio, nullptr, &events, path, "", nullptr,
        [&](TriggerVariant const& r, std::string const&, std::string const&) {
            ++result.results;
            result.alternative = r.which();
            if (auto const* n = boost::get<ResultsMenu::NormalGameModeTriggerParameters>(&r)) {
                result.coins = n->coinsCollected;
                result.coinTotal = n->coinTotal;
                result.deaths = n->deaths;
                result.time = n->levelTime;
                result.levelIndex = n->levelIndex;
            } else if (auto const* c = boost::get<ResultsMenu::CollectTimeGameModeTriggerParameters>(&r)) {
                result.coins = c->coinsCollected;
                result.coinTotal = c->coinTotal;
                result.remainingTime = c->remainingTime;
                result.levelIndex = c->levelIndex;
            } else if (auto const* l = boost::get<ResultsMenu::TimeAttackGameModeTriggerParameters>(&r)) {
                result.laps = l->laps;
                result.levelIndex = l->levelIndex;
            }
        },
        [](std::string const&, std::string const&) {},
        [&](ConfirmationBox::Parameters const& popup) {
            ++result.popups;
            answer = popup.onAffirmative;
        },
        false,
        [](std::string const&, std::string const&, bool, bool, bool) {}, std::move(level), true,
        [](boost::optional<std::string> const&) {}, false);
    SlotCallbackRef ends(&events, GameViewController::levelEndSignal, [&] {
        if (result.levelEndSignals++ == 0) {
            result.arrivalFrame = frame;
            result.worldTime = game.getWorld().getTime();
        }
        result.playerCoins = game.getWorld().getPlayer().getCoinCount();
    });
    // What the level loader does before it installs the screen.
    events.trigger(20000001);
    float const dt = 1000.0f / 60.0f;
    size_t stretch = 0;
    uint32_t left = script.empty() ? 0 : script[0].frames;
    for (frame = 0; frame < maxFrames; ++frame) {
        while (stretch + 1 < script.size() && left == 0) left = script[++stretch].frames;
        if (!script.empty()) {
            game.gamepadInput(pad(script[stretch].keys));
            if (left > 0) --left;
        }
        if (answer) std::exchange(answer, nullptr)();
        events.dispatch();
        game.update(audio, dt, float(frame + 1) * dt);
        uint64_t h = 14695981039346656037ull;
        mixBody(h, game.getWorld().getPlayer().getBody());
        for (DynamicBody& body : game.getWorld().dynamicBodies().items()) {
            if (body.getBody() != nullptr) mixBody(h, body.getBody());
        }
        result.hashes.push_back(h);
        if (result.arrivalFrame >= 0 && frame >= result.arrivalFrame + 60) break;
    }
    return result;
}

std::string describe(Result const& r) {
    std::string out;
    char line[200];
    std::snprintf(line, sizeof line,
                  "arrival %d ends %d results %d alternative %d coins %" PRIu64 "/%" PRIu64 " player %" PRIu64
                  " deaths %" PRIu64 " time %.3f check points %d/%d\n",
                  r.arrivalFrame, r.levelEndSignals, r.results, r.alternative, r.coins, r.coinTotal, r.playerCoins,
                  r.deaths, double(r.time), r.checkPointsReached, r.checkPoints);
    out += line;
    if (r.alternative == 1 || r.alternative == 2) {
        std::snprintf(line, sizeof line, "laps %.4f remaining %.3f popups %d\n", double(r.laps), double(r.remainingTime),
                      r.popups);
        out += line;
    }
    for (size_t i = 0; i < r.hashes.size(); ++i) {
        std::snprintf(line, sizeof line, "%zu %016" PRIx64 "\n", i, r.hashes[i]);
        out += line;
    }
    return out;
}

}  // namespace scripted_run
