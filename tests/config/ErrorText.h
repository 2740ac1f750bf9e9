#pragma once
// The text of the archive error that a read throws, for tables of expected failures.
#include <string>

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

}  // namespace kxtest
