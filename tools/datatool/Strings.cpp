// The per-language string tables fonts/<locale>.strings from tools/data/strings/<locale>.txt.
// Each source holds "key = text" lines ('#' starts a comment line; escapes \n, \\ and \uXXXX).
// English is complete; other languages fall back to it key by key, and the missing keys are
// listed so translators know what is left.
#include <utf8.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#include "fonts/MurmurHash2.h"
#include "fonts/StringTable.h"
#include "tools/datatool/DataTool.h"
#include "tools/datatool/Locales.h"

namespace {

using Texts = std::map<std::string, std::string>;

std::string trim(std::string const& s) {
    auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool unescape(std::string const& in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i >= in.size()) return false;
        switch (in[i]) {
            case 'n': out += '\n'; break;
            case '\\': out += '\\'; break;
            case 'u': {
                if (i + 4 >= in.size()) return false;
                std::string hex = in.substr(i + 1, 4);
                if (hex.size() != 4 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                    return false;
                utf8::append(static_cast<uint32_t>(std::stoul(hex, nullptr, 16)), std::back_inserter(out));
                i += 4;
                break;
            }
            default: return false;
        }
    }
    return true;
}

bool readSource(datatool::Context& ctx, std::filesystem::path const& file, Texts& texts) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string where = file.filename().string() + ":" + std::to_string(number);
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        auto eq = t.find('=');
        if (eq == std::string::npos) {
            ctx.error("strings: " + where + ": expected key = text");
            continue;
        }
        std::string key = trim(t.substr(0, eq));
        std::string text;
        if (key.empty() || !unescape(trim(t.substr(eq + 1)), text) || !utf8::is_valid(text.begin(), text.end())) {
            ctx.error("strings: " + where + ": bad key or text");
            continue;
        }
        if (!texts.emplace(key, text).second) ctx.error("strings: " + where + ": duplicate key " + key);
    }
    return true;
}

void build(datatool::Context& ctx) {
    auto dir = ctx.data / "strings";
    Texts english;
    if (!readSource(ctx, dir / (std::string(datatool::baseLocale) + ".txt"), english)) {
        ctx.error("strings: no English source in " + dir.string());
        return;
    }
    // Keys are told apart only by their hash: two keys with one hash would show one text.
    std::map<uint32_t, std::string> hashes;
    for (auto const& [key, text] : english) {
        auto [it, fresh] = hashes.emplace(Fonts::stringKeyHash(key), key);
        if (!fresh) ctx.error("strings: keys " + it->second + " and " + key + " share a hash");
    }
    for (auto locale : datatool::shippedLocales) {
        std::string name(locale);
        Texts own;
        if (locale == datatool::baseLocale)
            own = english;
        else if (!readSource(ctx, dir / (name + ".txt"), own))
            std::printf("datatool: strings: %s has no source; English stands in\n", name.c_str());
        Texts merged = english;
        for (auto const& [key, text] : own) {
            if (!english.count(key))
                ctx.error("strings: " + name + " translates " + key + ", which the English source lacks");
            else
                merged[key] = text;
        }
        std::vector<std::string> missing;
        for (auto const& [key, text] : english)
            if (!own.count(key)) missing.push_back(key);
        if (!missing.empty()) {
            std::string list;
            for (auto const& k : missing) list += (list.empty() ? "" : ", ") + k;
            std::printf("datatool: strings: %s lacks %zu of %zu keys (English stands in): %s\n", name.c_str(),
                        missing.size(), english.size(), list.c_str());
        }
        std::vector<Fonts::StringTable::Entry> entries;
        for (auto const& [key, text] : merged) entries.emplace_back(Fonts::stringKeyHash(key), text);
        std::sort(entries.begin(), entries.end(), [](auto const& a, auto const& b) { return a.first < b.first; });
        ctx.pak0.add("fonts/" + name + ".strings", Fonts::StringTable::write(entries));
    }
}

datatool::Register reg("strings", 10, build);

}  // namespace
