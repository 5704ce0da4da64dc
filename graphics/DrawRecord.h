#pragma once
// What a frame drew, for tests that check a screen's layout from the outside: each text (its
// words, window rectangle and colour, and the button it belongs to) and each button (its window
// rectangle). Off unless ZELV_DRAW_RECORD names a file; when on, each frame's record replaces the
// file, headed by the frame's number (from 0) and how many frames before it drew the same, so a
// reader can pace itself by the game's frames rather than the clock. Rectangles are in window
// pixels, top-left origin, as a screenshot shows them. Used from the render thread only.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <string>

namespace Graphics {

class DrawRecord {
public:
    // Cheap: one cached flag.
    static bool on();

    // A text laid out between the corners lo and hi (units of the matrix pvm, which maps them to
    // clip space).
    static void text(std::string const& words, glm::vec2 lo, glm::vec2 hi, glm::mat4 const& pvm,
                     glm::vec4 const& colour, void const* owner);
    static void button(glm::vec2 lo, glm::vec2 hi, glm::mat4 const& pvm, void const* id);
    // A box that holds texts (a pop-up's face, a subtitle's backing): what lies over it belongs
    // inside it. lo and hi are the face, inside any frame.
    static void panel(glm::vec2 lo, glm::vec2 hi, glm::mat4 const& pvm);
    // The frame so far is kept as a picture (a capture) ...
    static void captured();
    // ... that is now drawn again under what follows: its texts show behind.
    static void backdrop();
    // A modal layer now hides what was drawn before it: that is no longer on the screen.
    static void cover();

    // The button whose label is being laid out while one lives.
    class Owner {
    public:
        explicit Owner(void const* button);
        ~Owner();
        Owner(Owner const&) = delete;
        Owner& operator=(Owner const&) = delete;

    private:
        void const* previous_;
    };
    static void const* owner();

    // Writes the frame's record for a window of this many pixels and starts the next one. The
    // picture lies in the window as a GL viewport does (x, y from the lower left, width, height);
    // an empty one fills the window.
    static void endFrame(int width, int height, glm::ivec4 picture = glm::ivec4(0));
};

}  // namespace Graphics
