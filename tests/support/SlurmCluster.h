#pragma once
// Whether the one-node cluster of scripts/slurm-test-cluster.sh answers (SLURM_CONF names its
// configuration). Its tests skip without it, except in CI, where .ci/run starts it and they must run.
#include <cstdlib>

#include "tests/support/TestSupport.h"

namespace kxtest {

inline bool slurmClusterUp() {
    return std::getenv("SLURM_CONF") != nullptr && std::system("sinfo -h >/dev/null 2>&1") == 0;
}

}  // namespace kxtest

// In a test body or SetUp: skips (or fails in CI) when no cluster answers.
#define KX_REQUIRE_SLURM_CLUSTER()                         \
    KX_REQUIRE(::kxtest::slurmClusterUp(),                 \
               "no Slurm cluster: start one with "         \
               "scripts/slurm-test-cluster.sh start DIR, " \
               "then set SLURM_CONF=DIR/slurm.conf")
