#pragma once
// Every event of the sessions the agent stored in its folder: the saved session blocks, the
// current session's archive and the data sender's blocks, each read as far as it reads.
#include <filesystem>
#include <vector>

#include "analytics/agent/TallyEvent.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/tests/SessionBlockReader.h"
#include "platform/base/AtomicFile.h"

namespace block_reader {

inline std::vector<Event> storedEvents(std::filesystem::path const& folder) {
    std::vector<Event> events;
    auto take = [&](Data const& block) {
        try {
            for (auto& e : readBlock(block).events) events.push_back(std::move(e));
        } catch (std::exception const&) {
        }
    };
    std::error_code ec;
    for (auto const& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::string const name = entry.path().filename().string();
        if (name.rfind(".tallyStored", 0) == 0) {
            if (auto v = TallyUtil::safeUnarchiveObjectWithFile(entry.path()); v && v->array())
                for (auto const& b : *v->array())
                    if (b.data()) take(*b.data());
        } else if (name.rfind(".tallyCurrent", 0) == 0) {
            if (auto v = TallyUtil::safeUnarchiveObjectWithFile(entry.path()))
                if (auto s = v->objectAs<TallySession>())
                    for (auto const& e : s->eventLog()) {
                        Event copy{e->name(), {}};
                        for (auto const& [key, value] : e->parameters())
                            copy.params[key] = TallyEvent::descriptionOf(value);
                        events.push_back(std::move(copy));
                    }
        } else if (!name.empty() && name[0] != '.' && entry.is_regular_file()) {
            platform::WholeFile f = platform::readWholeFile(entry.path(), 16u << 20);
            if (f.status == platform::WholeFile::Read) take(f.bytes);
        }
    }
    return events;
}

}  // namespace block_reader
