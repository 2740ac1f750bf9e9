#include "service/TaskFiles.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace kxservice::taskfiles {

namespace {

constexpr const char* kDescriptionFile = "task.in";
constexpr const char* kExitFile = "exit";
constexpr const char* kProgressFile = "progress";

FileKey keyFrom(const std::string& text) {
    std::array<char, 32> chars{};
    if (text.size() != chars.size()) {
        throw std::runtime_error("not a content key: \"" + text + "\"");
    }
    std::copy(text.begin(), text.end(), chars.begin());
    return FileKey(chars);
}

std::string oneLine(const std::string& text, const char* what) {
    if (text.find('\n') != std::string::npos) {
        throw std::runtime_error(std::string(what) + " holds a line break: " + text);
    }
    return text;
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

void writeAtomically(const fs::path& path, const std::string& text) {
    fs::path temp = path;
    temp += ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            throw std::runtime_error("cannot write " + temp.string());
        }
    }
    fs::rename(temp, path);
}

void writeDescription(const fs::path& dir, const Description& d) {
    std::ostringstream text;
    text << "engine " << oneLine(d.engine, "the engine's name") << '\n'
         << "data-dir " << oneLine(d.options.dataDir.string(), "the data directory") << '\n'
         << "task-timeout " << d.options.taskTimeout << '\n'
         << "dense-image-size " << d.options.denseImageSize << '\n'
         << "kind " << (d.kind == TaskKind::kSfm ? "sfm" : "mvs") << '\n'
         << "main " << d.main.str() << '\n';
    for (const FileKey& k : d.images) {
        text << "image " << k.str() << '\n';
    }
    for (const auto& [key, path] : d.inputs) {
        text << "input " << key.str() << ' ' << oneLine(path.string(), "an input's path") << '\n';
    }
    writeAtomically(dir / kDescriptionFile, text.str());
}

Description readDescription(const fs::path& dir) {
    std::istringstream in(readAll(dir / kDescriptionFile));
    Description d;
    std::string line;
    while (std::getline(in, line)) {
        const size_t space = line.find(' ');
        const std::string name = line.substr(0, space),
                          value = space == std::string::npos ? "" : line.substr(space + 1);
        if (name == "engine") {
            d.engine = value;
        } else if (name == "data-dir") {
            d.options.dataDir = value;
        } else if (name == "task-timeout") {
            d.options.taskTimeout = unsigned(std::stoul(value));
        } else if (name == "dense-image-size") {
            d.options.denseImageSize = unsigned(std::stoul(value));
        } else if (name == "kind") {
            d.kind = value == "mvs" ? TaskKind::kMvs : TaskKind::kSfm;
        } else if (name == "main") {
            d.main = keyFrom(value);
        } else if (name == "image") {
            d.images.push_back(keyFrom(value));
        } else if (name == "input") {
            const size_t at = value.find(' ');
            d.inputs[keyFrom(value.substr(0, at))] = at == std::string::npos ? "" : value.substr(at + 1);
        }
    }
    if (d.engine.empty() || d.inputs.count(d.main) == 0) {
        throw std::runtime_error((dir / kDescriptionFile).string() + " names no engine or no main input");
    }
    return d;
}

void writeExit(const fs::path& dir, const Exit& e) {
    std::ostringstream text;
    if (!e.ok) {
        text << "failed\n" << e.failure << '\n';
    } else {
        text << "ok\n";
        for (const ResultFile& r : e.results) {
            const std::string name = oneLine(r.path.lexically_relative(dir).string(), "a result's path");
            text << "result " << static_cast<uint32_t>(r.type) << ' ' << r.hModel << ' ' << name << '\n';
        }
    }
    writeAtomically(dir / kExitFile, text.str());
}

std::optional<Exit> readExit(const fs::path& dir) {
    std::error_code ec;
    if (!fs::exists(dir / kExitFile, ec)) {
        return std::nullopt;
    }
    try {
        std::istringstream in(readAll(dir / kExitFile));
        std::string verdict;
        std::getline(in, verdict);
        Exit e;
        e.ok = verdict == "ok";
        if (!e.ok) {
            std::getline(in, e.failure, '\0');
            while (!e.failure.empty() && e.failure.back() == '\n') {
                e.failure.pop_back();
            }
            return verdict == "failed" ? std::optional<Exit>(e) : std::nullopt;
        }
        std::string word, name;
        uint32_t type = 0, hModel = 0;
        while (in >> word >> type >> hModel && std::getline(in >> std::ws, name)) {
            const fs::path relative(name);
            if (word != "result" || relative.is_absolute() || name.find("..") != std::string::npos) {
                return std::nullopt;  // a worker writes only inside its task directory
            }
            e.results.push_back({dir / relative, static_cast<FileType>(type), hModel});
        }
        return e;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void writeProgress(const fs::path& dir, float ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f\n", static_cast<double>(ratio));
    writeAtomically(dir / kProgressFile, text);
}

float readProgress(const fs::path& dir) {
    std::ifstream in(dir / kProgressFile);
    float ratio = 0;
    in >> ratio;
    return in ? std::min(std::max(ratio, 0.0f), 1.0f) : 0.0f;
}

}  // namespace kxservice::taskfiles
