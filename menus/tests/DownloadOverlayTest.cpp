// The download bar on real GL and the built data, over the shell's download state: the panel's
// life (slides, status lines, the bar against out-of-range progress, the finished notice), and the
// once-per-run boxes with the cellular consent and where input goes.
#include <gtest/gtest.h>

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

void set(int state, int reason, float progress) {
    shell_services::setDownloadState(state);
    shell_services::setDownloadPausedReason(reason);
    shell_services::setDownloadProgress(progress);
}

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
    std::unique_ptr<Overlay> make(bool enabled = true) {
        auto o = std::make_unique<Overlay>(graphics.get(), audio, fonts.get(), enabled, [this] { ++consents; });
        EXPECT_TRUE(loadTextures());
        return o;
    }
    // Updates of 10 ms until done (at most 5 s), textures loaded on the way; how many it took.
    template <class Done>
    int until(Overlay& o, Done&& done) {
        int n = 0;
        for (; n < 500 && !done(); ++n) o.update(true, 10.0f), loadTextures();
        return n;
    }
    int slideDone(Overlay& o) {
        return until(o, [&] { return o.shownState() == o.targetShownState() && o.currentSlide().state == 2; });
    }
    void interactive(Overlay& o, ConfirmationBox& box) {
        until(o, [&] { return box.state() == ConfirmationBox::kInteractive; });
        ASSERT_EQ(box.state(), ConfirmationBox::kInteractive);
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

TEST_F(DownloadOverlay, SlidesStatusBarAndFinishedNotice) {
    auto o = make(false);
    EXPECT_FALSE(drawsAtTop(*o));
    // Shown at once: one update ends the initial slide out, then 1000 ms in, reported one later.
    o->show();
    EXPECT_NEAR(slideDone(*o), 102, 2);
    EXPECT_TRUE(drawsAtTop(*o));

    // The pulse runs only while downloading.
    o->preDraw();
    float pulse = o->activePulse().value;
    for (int i = 0; i < 3; ++i) o->update(true, 10.0f);
    o->preDraw();
    EXPECT_NE(o->activePulse().value, pulse);
    pulse = o->activePulse().value;
    set(1, 0, 0.25f);
    for (int i = 0; i < 30; ++i) o->update(true, 10.0f);
    o->preDraw();
    EXPECT_FLOAT_EQ(o->activePulse().value, pulse);

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
    }

    // Progress outside 0..1 keeps the bar within its frame.
    float const left = o->drawnBar().corner(2).position.x;
    for (auto [p, width] : {std::pair{1.7f, 640.0f}, {-3.0f, 0.0f}, {std::numeric_limits<float>::quiet_NaN(), 0.0f},
                            {0.75f, 480.0f}}) {
        set(0, 0, p);
        o->update(true, 10.0f);
        drawsAtTop(*o);
        EXPECT_NEAR(o->drawnBar().corner(0).position.x - left, width, 0.01f) << p;
    }

    // Finished (states 2 and 3 are the overlay's own contract): nothing while disabled; then the
    // first sighting is pending and closed by the same update, the second opens the box.
    set(2, 0, 1.0f);
    for (int i = 0; i < 5; ++i) o->update(true, 10.0f);
    EXPECT_EQ(hookCalls, 0);
    o->setEnabled(true);
    o->update(true, 10.0f);
    EXPECT_EQ(hookCalls, 1);
    EXPECT_FALSE(o->isFinishPending() || o->finishedBox().isActive());
    o->update(true, 10.0f);
    EXPECT_EQ(o->status(), Overlay::kDownloading);
    interactive(*o, o->finishedBox());
    EXPECT_EQ(hookCalls, 2);  // not while the box is up
    o->buttonPressed(ViewController::buttonPause);  // its only answer
    EXPECT_TRUE(o->isFinishPending());

    // Verified: a full bar, and the panel slides out over 1000 ms; nothing is drawn after.
    set(4, 0, 0.9f);
    o->update(true, 10.0f);
    EXPECT_FALSE(o->isFinishPending());
    EXPECT_FLOAT_EQ(o->progress(), 1.0f);
    EXPECT_NEAR(slideDone(*o), 101, 2);
    EXPECT_FALSE(drawsAtTop(*o));
}

TEST_F(DownloadOverlay, BoxesOncePerRunConsentAndInputRouting) {
    auto o = make();
    // Hidden: no box whatever the reason.
    for (int reason : {2, 3}) {
        set(1, reason, 0.05f);
        for (int i = 0; i < 5; ++i) o->update(true, 10.0f);
    }
    EXPECT_FALSE(o->noDiskSpaceBox().isActive() || o->cellularBox().isActive());
    o->show();
    set(1, 3, 0.1f);  // at 0.1 or more the cellular question is not asked
    slideDone(*o);
    EXPECT_FALSE(o->cellularBox().isActive() || Overlay::cellularAskedThisRun());

    // Not interactive (the host has a box of its own): nothing opens.
    set(1, 2, 0.05f);
    o->update(false, 10.0f);
    EXPECT_FALSE(o->noDiskSpaceBox().isActive());
    interactive(*o, o->noDiskSpaceBox());
    EXPECT_TRUE(o->isBlockingInput());

    // Both open: input goes to the cellular box first; its "no" stores nothing.
    set(1, 3, 0.05f);
    interactive(*o, o->cellularBox());
    o->buttonPressed(ViewController::buttonPause);
    until(*o, [&] { return !o->cellularBox().isActive(); });
    EXPECT_EQ(o->noDiskSpaceBox().state(), ConfirmationBox::kInteractive);
    EXPECT_FALSE(RoamingDataFile("roamingData").data.cellularDownloadAllowed());
    o->buttonPressed(ViewController::buttonPause);  // now the no-disk box's only answer
    until(*o, [&] { return !o->isBlockingInput(); });
    EXPECT_FALSE(o->noDiskSpaceBox().isActive());

    // Neither comes back in this run, even with a new host.
    auto second = make();
    second->show();
    slideDone(*second);
    for (int reason : {2, 3}) {
        set(1, reason, 0.05f);
        for (int i = 0; i < 20; ++i) second->update(true, 10.0f), o->update(true, 10.0f);
    }
    EXPECT_FALSE(second->isBlockingInput() || o->isBlockingInput());
    EXPECT_TRUE(allowCalls.empty());
    EXPECT_EQ(consents, 0);

    // The next run asks again; "yes" is stored and reported.
    Overlay::resetRunFlags();
    set(1, 3, 0.02f);
    interactive(*o, o->cellularBox());
    EXPECT_TRUE(o->cellularBox().affirmativeButton().button().activate());
    EXPECT_EQ(consents, 1);
    EXPECT_EQ(allowCalls, std::vector<bool>{true});
    EXPECT_TRUE(RoamingDataFile("roamingData").data.cellularDownloadAllowed());
    until(*o, [&] { return !o->isBlockingInput(); });

    // Stored consent: reported at every update with reason 3, never asked again, in a later run too.
    Overlay::resetRunFlags();
    allowCalls.clear();
    for (int i = 0; i < 4; ++i) o->update(true, 10.0f);
    EXPECT_EQ(allowCalls.size(), 4u);
    EXPECT_FALSE(o->cellularBox().isActive());
    set(1, 1, 0.02f);
    o->update(true, 10.0f);
    EXPECT_EQ(allowCalls.size(), 4u);
}

}  // namespace
