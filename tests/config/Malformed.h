#pragma once
// Malformed variants of a valid JSON text for robustness tests: prefixes, byte mutations, and values of
// the wrong JSON type (deterministic for a given seed); and the error text that a read throws.
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include <cereal/cereal.hpp>

namespace kxtest {

template <class Read>
std::string archiveErrorOf(Read&& read) {
    try {
        read();
        return "(read without error)";
    } catch (const cereal::Exception& e) {
        return e.what();
    }
}

// Every proper prefix whose length is a multiple of step (the empty one included).
inline std::vector<std::string> truncations(const std::string& text, std::size_t step = 1) {
    std::vector<std::string> out;
    for (std::size_t n = 0; n < text.size(); n += step) {
        out.push_back(text.substr(0, n));
    }
    return out;
}

// Copies of text with one to three bytes replaced by JSON-significant or invalid ones, deleted, or with
// a region duplicated.
inline std::vector<std::string> mutations(const std::string& text, std::size_t count, unsigned seed) {
    static const char kBytes[] = {'{', '}', '[', ']', '"', ',', ':', '\\', '\0', '\xff', '\x80',
                                  'x', '-', '1', '.', 'e', ' ', 'N', 'I',  't',  'n',    '\n'};
    std::mt19937 rng(seed);
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    std::vector<std::string> out;
    for (std::size_t i = 0; i < count; ++i) {
        std::string s = text;
        const std::size_t nbEdits = 1 + pick(3);
        for (std::size_t e = 0; e < nbEdits && !s.empty(); ++e) {
            const std::size_t at = pick(s.size());
            switch (pick(3)) {
                case 0:
                    s[at] = kBytes[pick(sizeof(kBytes))];
                    break;
                case 1:
                    s.erase(at, 1 + pick(8));
                    break;
                default:
                    s.insert(at, s.substr(at, 1 + pick(40)));
                    break;
            }
        }
        out.push_back(s);
    }
    return out;
}

// Copies of a text with one member's scalar value replaced by a value of each JSON type.
inline std::vector<std::string> wrongTypes(const std::string& text) {
    static const char* const kValues[] = {"null",       "true",  "0",  "-1", "1.5",
                                          "4294967296", "\"s\"", "[]", "{}"};
    std::vector<std::string> out;
    // A member is a quoted name, a colon and a blank; its value runs to the next ',', '}', ']' or line end.
    for (std::size_t colon = text.find("\": "); colon != std::string::npos;
         colon = text.find("\": ", colon + 1)) {
        const std::size_t at = colon + 3;
        if (at >= text.size() || text[at] == '[' || text[at] == '{') {
            continue;
        }
        const std::size_t end = text.find_first_of(",}]\n", at);
        const std::size_t length = (end == std::string::npos ? text.size() : end) - at;
        for (const char* replacement : kValues) {
            out.push_back(std::string(text).replace(at, length, replacement));
        }
    }
    return out;
}

// Hostile shapes: deep nesting, long runs, unterminated constructs.
inline std::vector<std::string> hostileTexts() {
    const std::size_t deep = 1000000;
    std::string objects;
    for (std::size_t i = 0; i < deep; ++i) {
        objects += "{\"a\":";
    }
    return {
        std::string(deep, '['),
        "{\"cameras\": " + std::string(deep, '[') + std::string(deep, ']') + ", \"images\": []}",
        "{\"cameras\": [], \"images\": [], \"settings\": " + std::string(deep, '{'),
        objects + "1" + std::string(deep, '}'),
        "\"" + std::string(1 << 20, 'x'),
        "{\"cameras\": [], \"images\": [" + std::string(1 << 20, '-') + "]}",
    };
}

}  // namespace kxtest
