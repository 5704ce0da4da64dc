#include "os/ViewController.h"

ViewController::~ViewController() = default;
void ViewController::draw(Graphics::Context*, Graphics::StandardShader*) {}
void ViewController::gamepadInput(GamepadState const&) {}
void ViewController::scrollPageBack() {}
void ViewController::scrollPageForward() {}
bool ViewController::isAtRootMenu() { return false; }
