#include "service/Engine.h"

namespace kxservice {

namespace {
struct EngineRow {
    const char* name;
    EngineFactory factory;
};

// Every engine the service knows, by the name that --engine takes.
const std::vector<EngineRow>& engineTable() {
    static const std::vector<EngineRow> table = {
        {"test", makeTestEngine},
    };
    return table;
}
}  // namespace

std::unique_ptr<Engine> makeEngine(const std::string& name, const EngineOptions& options) {
    for (const EngineRow& row : engineTable()) {
        if (name == row.name) {
            return row.factory(options);
        }
    }
    return nullptr;
}

std::vector<std::string> engineNames() {
    std::vector<std::string> names;
    for (const EngineRow& row : engineTable()) {
        names.emplace_back(row.name);
    }
    return names;
}

}  // namespace kxservice
