// The download bar on real GL and the built data, over the shell's download state: its slides,
// pulse and status line, the bar against out-of-range progress, the once-per-run boxes, the
// cellular consent stored and reported, the finished notice, and where input goes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "menus/BackgroundDownloaderOverlay.h"
#include "menus/tests/MenuFixture.h"
#include "os/ViewController.h"
#include "save/RoamingDataFile.h"

namespace {

using Overlay = BackgroundDownloaderOverlay;

std::vector<bool> allowCalls;
int hookCalls = 0;

class DownloadOverlay : public menus_test::MenuFixture {
protected:
    testing_support::TempDir documents;
    int consents = 0;

    void SetUp() override {
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        set(0, 0, 0.25f);
        Overlay::resetRunFlags();
        allowCalls.clear();
        hookCalls = 0;
        Overlay::platformCalls() = {[](bool allowed) { allowCalls.push_back(allowed); }, [] { ++hookCalls; }};
        MenuFixture::SetUp();
    }
    void TearDown() override {
        Overlay::platformCalls() = {&::allowCellularDownload, &::downloadOverlayHook};
        set(0, 0, 0.0f);
        MenuFixture::TearDown();
    }
    static void set(int state, int reason, float progress) {
        shell_services::setDownloadState(state);
        shell_services::setDownloadPausedReason(reason);
        shell_services::setDownloadProgress(progress);
    }
    std::unique_ptr<Overlay> make(bool enabled = true) {
        auto o = std::make_unique<Overlay>(graphics.get(), audio, fonts.get(), enabled, [this] { ++consents; });
        EXPECT_TRUE(loadTextures());
        return o;
    }
    // Shown and settled: two updates to start the slide, 1000 ms of slide, one to report it ended.
    void showFully(Overlay& o) {
        o.show();
        for (int i = 0; i < 300 && (o.shownState() != 1 || o.currentSlide().state != 2); ++i) o.update(true, 10.0f);
        ASSERT_EQ(o.shownState(), 1u);
        ASSERT_EQ(o.currentSlide().state, 2u);
    }
    // Updates until the box is interactive (its textures loaded on the way).
    void settle(Overlay& o, ConfirmationBox& box, bool interactive = true) {
        for (int i = 0; i < 200 && box.state() != ConfirmationBox::kInteractive; ++i) {
            o.update(interactive, 10.0f);
            loadTextures();
        }
    }
    void runUntilHidden(Overlay& o, ConfirmationBox& box) {
        for (int i = 0; i < 300 && box.isActive(); ++i) o.update(true, 10.0f);
    }
    // Whether anything is drawn over the clear colour in the top rows of the screen.
    bool drawsAtTop(Overlay& o) {
        o.preDraw();
        frame(glm::vec4(1, 0, 1, 1), [&] { o.draw(graphics.get(), shader.get()); });
        int changed = 0;
        for (float x = 330.0f; x < 950.0f; x += 8.0f)
            changed += !menus_test::near(at(x, 716.0f), testing_support::rgba(255, 0, 255));
        return changed > 10;
    }
};

TEST_F(DownloadOverlay, SlidesPulseStatusAndBar) {
    auto o = make();
    EXPECT_EQ(o->shownState(), 0u);
    EXPECT_FALSE(drawsAtTop(*o));

    // Shown right after construction: the first update only ends the initial slide out.
    o->show();
    o->update(true, 10.0f);
    EXPECT_EQ(o->shownState(), 0u);
    o->update(true, 10.0f);
    EXPECT_EQ(o->shownState(), 1u);
    o->preDraw();
    EXPECT_GT(o->currentSlide().value, 700.0f);  // one step in, from the screen height
    int frames = 0;
    while (o->currentSlide().state != 2 && frames < 500) o->update(true, 10.0f), ++frames;
    EXPECT_NEAR(frames, 100, 2);  // 1000 ms, reported ended one update later
    o->preDraw();
    EXPECT_FLOAT_EQ(o->currentSlide().value, 0.0f);
    EXPECT_TRUE(drawsAtTop(*o));

    // The bar follows the progress; the pulse runs only while downloading.
    EXPECT_FLOAT_EQ(o->progress(), 0.25f);
    float const left = o->drawnBar().corner(2).position.x;
    EXPECT_NEAR(o->drawnBar().corner(0).position.x - left, 160.0f, 0.01f);
    o->preDraw();
    float pulse = o->activePulse().value;
    for (int i = 0; i < 3; ++i) o->update(true, 10.0f);
    o->preDraw();
    EXPECT_NE(o->activePulse().value, pulse);
    pulse = o->activePulse().value;
    EXPECT_TRUE(pulse >= 0.75f && pulse <= 1.0f);
    set(1, 0, 0.5f);
    for (int i = 0; i < 30; ++i) o->update(true, 10.0f);
    o->preDraw();
    EXPECT_FLOAT_EQ(o->activePulse().value, pulse);
    EXPECT_FLOAT_EQ(o->progress(), 0.5f);

    // Status by state and reason; out-of-contract states show none and never crash.
    struct Case {
        int state, reason;
        Overlay::Status status;
    } const cases[] = {{0, 0, Overlay::kDownloading}, {1, 0, Overlay::kPaused},    {1, 1, Overlay::kNoNetwork},
                       {1, 2, Overlay::kPaused},      {4, 0, Overlay::kVerifying}, {7, 0, Overlay::kNoStatus},
                       {-3, 0, Overlay::kNoStatus}};
    for (auto const& c : cases) {
        set(c.state, c.reason, 0.5f);
        o->update(false, 0.0f);
        EXPECT_EQ(o->status(), c.status) << c.state << " " << c.reason;
        EXPECT_TRUE(drawsAtTop(*o));
        o->show();  // state 4 turned the panel away: take that back before it moves
        set(0, 0, 0.5f);
        o->update(false, 0.0f);
        ASSERT_EQ(o->shownState(), 1u);
    }

    // Progress outside 0..1 keeps the bar within its frame.
    float const nan = std::numeric_limits<float>::quiet_NaN();
    for (auto [p, width] : {std::pair{1.7f, 640.0f}, {-3.0f, 0.0f}, {nan, 0.0f}, {0.75f, 480.0f}}) {
        set(0, 0, p);
        o->update(true, 10.0f);
        o->preDraw();
        frame(glm::vec4(0), [&] { o->draw(graphics.get(), shader.get()); });
        EXPECT_NEAR(o->drawnBar().corner(0).position.x - left, width, 0.01f) << p;
    }

    // Finished: a full bar, then the panel slides out over 1000 ms and nothing is drawn.
    set(4, 0, 0.9f);
    o->update(true, 10.0f);
    EXPECT_FLOAT_EQ(o->progress(), 1.0f);
    EXPECT_EQ(o->targetShownState(), 0u);
    o->update(true, 10.0f);
    EXPECT_EQ(o->shownState(), 0u);
    frames = 1;
    while (o->currentSlide().state != 2 && frames < 500) o->update(true, 10.0f), ++frames;
    EXPECT_NEAR(frames, 100, 2);
    o->preDraw();
    EXPECT_FLOAT_EQ(o->currentSlide().value, 720.0f);
    EXPECT_FALSE(drawsAtTop(*o));
}

TEST_F(DownloadOverlay, BoxesOncePerRunAndInputRouting) {
    auto o = make();
    // Hidden: no box whatever the reason.
    set(1, 2, 0.05f);
    for (int i = 0; i < 5; ++i) o->update(true, 10.0f);
    set(1, 3, 0.05f);
    for (int i = 0; i < 5; ++i) o->update(true, 10.0f);
    EXPECT_FALSE(o->noDiskSpaceBox().isActive());
    EXPECT_FALSE(o->cellularBox().isActive());
    showFully(*o);

    // Not interactive (the host has a box of its own): nothing opens.
    set(1, 2, 0.05f);
    o->update(false, 10.0f);
    EXPECT_FALSE(o->noDiskSpaceBox().isActive());
    o->update(true, 10.0f);
    EXPECT_TRUE(o->noDiskSpaceBox().isActive());
    EXPECT_TRUE(o->isBlockingInput());
    settle(*o, o->noDiskSpaceBox());

    // Both open: input goes to the cellular box first.
    set(1, 3, 0.05f);
    settle(*o, o->cellularBox());
    ASSERT_EQ(o->cellularBox().state(), ConfirmationBox::kInteractive);
    o->buttonPressed(ViewController::buttonPause);  // the negative answer: "no", nothing stored
    EXPECT_TRUE(o->noDiskSpaceBox().state() == ConfirmationBox::kInteractive);
    runUntilHidden(*o, o->cellularBox());
    EXPECT_FALSE(o->cellularBox().isActive());
    EXPECT_FALSE(RoamingDataFile("roamingData").data.cellularDownloadAllowed());
    EXPECT_TRUE(allowCalls.empty());
    o->buttonPressed(ViewController::buttonPause);  // now the no-disk box's only answer
    runUntilHidden(*o, o->noDiskSpaceBox());
    EXPECT_FALSE(o->isBlockingInput());

    // Neither comes back in this run, even with a new host.
    auto second = make();
    showFully(*second);
    for (int reason : {2, 3}) {
        set(1, reason, 0.05f);
        for (int i = 0; i < 20; ++i) second->update(true, 10.0f), o->update(true, 10.0f);
    }
    EXPECT_FALSE(second->noDiskSpaceBox().isActive() || second->cellularBox().isActive());
    EXPECT_FALSE(o->noDiskSpaceBox().isActive() || o->cellularBox().isActive());
    EXPECT_EQ(consents, 0);
}

TEST_F(DownloadOverlay, CellularConsentStoredAndReported) {
    auto o = make();
    showFully(*o);
    // At 0.1 or more the question is not asked.
    set(1, 3, 0.1f);
    for (int i = 0; i < 5; ++i) o->update(true, 10.0f);
    EXPECT_FALSE(o->cellularBox().isActive());
    EXPECT_FALSE(Overlay::cellularAskedThisRun());

    set(1, 3, 0.02f);
    settle(*o, o->cellularBox());
    ASSERT_EQ(o->cellularBox().state(), ConfirmationBox::kInteractive);
    EXPECT_TRUE(o->cellularBox().affirmativeButton().button().activate());  // yes
    EXPECT_EQ(consents, 1);
    EXPECT_EQ(allowCalls, std::vector<bool>{true});
    EXPECT_TRUE(RoamingDataFile("roamingData").data.cellularDownloadAllowed());
    runUntilHidden(*o, o->cellularBox());

    // Stored consent: reported at every shown update with reason 3, no question, in a later run too.
    Overlay::resetRunFlags();
    allowCalls.clear();
    for (int i = 0; i < 4; ++i) o->update(true, 10.0f);
    EXPECT_EQ(allowCalls.size(), 4u);
    EXPECT_FALSE(o->cellularBox().isActive());
    set(1, 1, 0.02f);
    o->update(true, 10.0f);
    EXPECT_EQ(allowCalls.size(), 4u);
}

TEST_F(DownloadOverlay, FinishedNoticeFlow) {
    // States 2 and 3 are the overlay's own contract: the platform here never reports them.
    auto quiet = make(false);
    showFully(*quiet);
    set(2, 0, 1.0f);
    for (int i = 0; i < 5; ++i) quiet->update(true, 10.0f);
    EXPECT_EQ(hookCalls, 0);
    EXPECT_FALSE(quiet->finishedBox().isActive());
    quiet.reset();

    set(0, 0, 0.9f);
    auto o = make(false);
    showFully(*o);
    o->setEnabled(true);
    set(2, 0, 1.0f);
    o->update(true, 10.0f);  // first sighting: pending, closed again by the same update
    EXPECT_EQ(hookCalls, 1);
    EXPECT_FALSE(o->isFinishPending());
    EXPECT_FALSE(o->finishedBox().isActive());
    o->update(true, 10.0f);
    EXPECT_EQ(hookCalls, 2);
    EXPECT_TRUE(o->finishedBox().isActive());
    EXPECT_EQ(o->status(), Overlay::kDownloading);
    settle(*o, o->finishedBox());
    ASSERT_EQ(o->finishedBox().state(), ConfirmationBox::kInteractive);
    EXPECT_EQ(hookCalls, 2);  // not while the box is up
    o->buttonPressed(ViewController::buttonPause);  // its only answer
    EXPECT_TRUE(o->isFinishPending());
    set(4, 0, 1.0f);
    o->update(true, 10.0f);
    EXPECT_FALSE(o->isFinishPending());
    EXPECT_EQ(o->targetShownState(), 0u);
    EXPECT_EQ(o->status(), Overlay::kVerifying);
    EXPECT_FLOAT_EQ(o->dimAlpha(), 0.0f);
}

}  // namespace
