#include "os/ViewController.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <typeinfo>

ViewController::~ViewController() = default;
void ViewController::draw(Graphics::Context*, Graphics::StandardShader*) {}
void ViewController::gamepadInput(GamepadState const&) {}
void const* ViewController::inputTaker() const { return this; }
void ViewController::scrollPageBack() {}
void ViewController::scrollPageForward() {}
bool ViewController::isAtRootMenu() { return false; }
void ViewController::windowFocusLost() {}

void logScreen(char const* name) { std::fprintf(stderr, "zelv: screen %s\n", name ? name : "?"); }

void logScreen(ViewController const& screen) {
    char const* mangled = typeid(screen).name();
    int status = 0;
    char* name = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    logScreen(status == 0 && name ? name : mangled);
    std::free(name);
}
