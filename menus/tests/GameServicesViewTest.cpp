// The boards view over the real GL target and data archive: what its rows say for the local
// scores, that everything it draws stays inside the screen at every window shape without
// overlapping, and that each way of closing it closes it once.
#include <algorithm>

#include "fonts/Layout.h"
#include "menus/GameServicesViewController.h"
#include "menus/tests/MenuFixture.h"
#include "os/services/Documents.h"
#include "os/services/GameCenter.h"

namespace {

using menus_test::MenuFixture;
using Row = GameServicesViewController::Row;

class GameServicesView : public MenuFixture {
protected:
    static void SetUpTestSuite() {
        static testing_support::TempDir documents;
        setDocumentsPath(documents.path().string() + "/");
    }

    std::unique_ptr<GameServicesViewController> view(std::string const& board = std::string()) {
        return std::make_unique<GameServicesViewController>(graphics.get(), audio, fonts.get(), board,
                                                            [this] { ++closed; });
    }
    // Updates until the view takes input (its textures loaded).
    bool shown(GameServicesViewController& v) {
        for (int i = 0; i < 200 && !v.isInteractive(); ++i) {
            loadTextures();
            v.update(*audio, 16.0f, 0.0f);
        }
        return v.isInteractive();
    }
    // Every label's laid-out box on the virtual screen.
    std::vector<Rect> labelBoxes(GameServicesViewController const& v) {
        std::vector<Rect> boxes;
        for (TextLabel const& label : v.labels()) {
            Fonts::TextMesh mesh;
            label.draw(mesh, glm::vec2(0.0f), glm::vec4(1.0f), v.layout());
            if (!mesh.empty()) boxes.push_back(mesh.bounds());
        }
        return boxes;
    }
    int closed = 0;
};

TEST_F(GameServicesView, RowsGiveTheBestLocalScoreOfEachBoardInItsOwnUnitAndTheChosenBoardFirst) {
    auto& services = game_center::services();
    services.setAuthenticated(true);
    ScoreReport const scores[] = {{0, 5203}, {0, 6000}, {4, 3250}, {1338, 3}};
    reportScores(scores, 4);
    AchievementReport const achievements[] = {{1, 40.0}, {0, 100.0}, {25, 100.0}};
    reportAchievements(achievements, 3);

    auto const all = GameServicesViewController::boardRows(*fonts, "");
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].name, "The Long Fall");
    EXPECT_EQ(all[0].value, "0:52.03");  // the better (lower) time kept
    EXPECT_EQ(all[1].name, "Bonus: Quick Drop");
    EXPECT_EQ(all[1].value, "3.250 laps");
    EXPECT_EQ(all[2].value, "3");
    EXPECT_FALSE(all[0].highlighted);

    // Opened for one level: its board first, lit, even without a score yet.
    auto const level03 = GameServicesViewController::boardRows(*fonts, *leaderboardId(2));
    ASSERT_EQ(level03.size(), 4u);
    EXPECT_EQ(level03[0].name, "Cog Valley");
    EXPECT_EQ(level03[0].value, "-");
    EXPECT_TRUE(level03[0].highlighted);

    // Earned achievements before those under way; the index without an identifier is none.
    auto const earned = GameServicesViewController::achievementRows(*fonts);
    ASSERT_EQ(earned.size(), 2u);
    EXPECT_EQ(earned[0].name, "A gold star");
    EXPECT_EQ(earned[0].value, "100%");
    EXPECT_EQ(earned[1].name, "Three stars");
    EXPECT_EQ(earned[1].value, "40%");
}

// Every board played: the column ends in a "+N more" row. At 16:9, at the narrowest and widest
// shapes and on a small window, nothing leaves the screen and no two labels overlap.
TEST_F(GameServicesView, EverythingStaysInsideTheScreenAtEveryWindowShape) {
    auto& services = game_center::services();
    services.setAuthenticated(true);
    for (uint32_t board = 0; board < 24; ++board) {
        ScoreReport const s{board, 4000 + board};
        reportScores(&s, 1);
    }
    for (auto [w, h] : {std::pair{1280.0f, 720.0f}, {1080.0f, 720.0f}, {1280.0f, 960.0f}, {800.0f, 450.0f}}) {
        SCOPED_TRACE(std::to_string(int(w)) + "x" + std::to_string(int(h)));
        platform_services::setScreenSizes(w, h, menus_test::kWidth, menus_test::kHeight);
        auto v = view();
        std::vector<Rect> boxes = labelBoxes(*v);
        std::string texts;
        for (TextLabel const& label : v->labels()) texts += label.text() + "|";
        EXPECT_NE(texts.find(" more|"), std::string::npos) << texts;
        Rect const& hit = v->okButton().hitRect();
        glm::vec4 const okMin = v->layout() * glm::vec4(hit.minX, hit.minY, 0.0f, 1.0f);
        glm::vec4 const okMax = v->layout() * glm::vec4(hit.maxX, hit.maxY, 0.0f, 1.0f);
        boxes.push_back(Rect(okMin.x, okMax.x, okMin.y, okMax.y));
        for (size_t i = 0; i < boxes.size(); ++i) {
            Rect const& b = boxes[i];
            EXPECT_TRUE(b.minX >= 0.0f && b.maxX <= w && b.minY >= 0.0f && b.maxY <= h)
                << i << ": " << b.minX << ".." << b.maxX << " x " << b.minY << ".." << b.maxY;
            for (size_t j = 0; j < i; ++j) {
                Rect const& o = boxes[j];
                bool const overlap = b.minX < o.maxX && o.minX < b.maxX && b.minY < o.maxY && o.minY < b.maxY;
                EXPECT_FALSE(overlap) << i << " over " << j;
            }
        }
    }
    platform_services::setScreenSizes(1280, 720, menus_test::kWidth, menus_test::kHeight);
}

// Drawn over a light screen: the panel is dark where the text stands. B, the pause button and a
// click on OK each close it, once; nothing closes it before it is shown.
TEST_F(GameServicesView, DrawsItsDarkPanelAndClosesOnceByEachWay) {
    auto v = view();
    GamepadState b{};
    b.buttonB = 1;
    v->gamepadInput(b);
    EXPECT_EQ(closed, 0) << "not shown yet";
    ASSERT_TRUE(shown(*v));
    v->preDraw(graphics.get());
    frame(glm::vec4(1.0f), [&] { v->drawOverlay(graphics.get(), shader.get()); });
    EXPECT_TRUE(menus_test::near(at(640, 360), 0xff29201a, 8)) << std::hex << at(640, 360);
    EXPECT_TRUE(menus_test::near(at(10, 10), 0xff808080, 8)) << std::hex << at(10, 10) << " half dimmed outside";
    v->gamepadInput(b);
    v->gamepadInput(b);
    v->buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(v->isDone());

    v = view();
    ASSERT_TRUE(shown(*v));
    v->buttonPressed(ViewController::buttonPause);
    EXPECT_EQ(closed, 2);

    v = view();
    ASSERT_TRUE(shown(*v));
    glm::vec4 const ok = v->layout() * glm::vec4(v->okButton().hitRect().minX + 20.0f,
                                                 v->okButton().hitRect().minY + 20.0f, 0.0f, 1.0f);
    v->touchBegan(glm::vec2(ok), 1);
    v->touchEnded(glm::vec2(ok), 1);
    EXPECT_EQ(closed, 3);
    v->touchBegan(glm::vec2(ok), 1);
    v->touchEnded(glm::vec2(ok), 1);
    EXPECT_EQ(closed, 3);
}

}  // namespace
