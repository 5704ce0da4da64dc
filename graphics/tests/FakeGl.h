#pragma once
// A GL table that records calls instead of making them, for tests of the caches and the
// texture pass that count GL work.
#include <map>
#include <string>
#include <vector>

#include "graphics/GlFunctions.h"

namespace gfx_test {

struct GlCall {
    std::string name;
    std::vector<long long> args;
};

class FakeGl {
public:
    FakeGl();
    ~FakeGl();

    std::vector<GlCall> const& calls() const;
    int count(std::string const& name) const;
    std::vector<GlCall> callsOf(std::string const& name) const;
    void clear();
    // Compile or link status the fake reports.
    static void setCompileOk(bool ok);
    static void setLinkOk(bool ok);

private:
    Graphics::ScopedGlFunctions scope_;
};

}  // namespace gfx_test
