// The client's whole SfM then MVS flow against the service whose tasks run as jobs of the one-node
// cluster (scripts/slurm-test-cluster.sh): the results are, byte for byte, those of the local runner.
#include "remote/MvsBackend.h"
#include "remote/SfmBackend.h"
#include "tests/remote/ServicePeer.h"
#include "tests/support/SlurmCluster.h"

namespace {

using namespace kxtest;

std::pair<std::string, std::string> resultsThrough(const QStringList& options, const SfmCfg& cfg) {
    ServicePeer peer(options);
    TempDir project;
    Recorded<SfmBackend> sfm(peer);
    Observer sfmSeen(sfm);
    sfm.launchSfmTask(std::make_unique<SfmCfg>(cfg), project.path());
    EXPECT_TRUE(waitUntil([&] { return !sfmSeen.results.empty() || !sfmSeen.failures.empty(); }));
    EXPECT_TRUE(sfmSeen.failures.empty()) << peer.taskLogs();
    Recorded<MvsBackend> mvs(peer);
    Observer mvsSeen(mvs);
    mvs.launchMvsTask(project / "0.ksm", "0_dense", project.path());
    EXPECT_TRUE(waitUntil([&] { return !mvsSeen.results.empty() || !mvsSeen.failures.empty(); }));
    EXPECT_TRUE(mvsSeen.failures.empty()) << peer.taskLogs();
    return {readFile(project / "0.ksm"), readFile(project / "0_dense.ply")};
}

TEST(SlurmFlow, SfmThenMvsAsClusterJobsGiveTheLocalRunnersResults) {
    KX_REQUIRE_SLURM_CLUSTER();
    TempDir images, bin;
    const SfmCfg cfg = *makeSfmCfg(images.path(), 3);
    // The real tools; sbatch also notes its arguments, one job a line.
    for (const std::string tool : {"sbatch", "squeue", "scontrol", "sacct", "scancel"}) {
        const std::string note = tool == "sbatch" ? "echo \"$@\" >> " + (bin / "jobs").string() + "\n" : "";
        writeFile(bin / tool, "#!/bin/sh\n" + note + "exec " + tool + " \"$@\"\n");
        std::filesystem::permissions(bin / tool, std::filesystem::perms::owner_all);
    }
    const auto local = resultsThrough({}, cfg);
    const auto cluster =
        resultsThrough({"--runner", "slurm", "--slurm-poll", "200", "--slurm-bin",
                        QString::fromStdString(bin.path().string()), "--slurm-mvs-option", "--comment=dense"},
                       cfg);
    EXPECT_FALSE(local.first.empty() || local.second.empty());
    EXPECT_TRUE(local == cluster) << "the cluster's results differ from the local runner's";
    // The MVS option went to the dense job only.
    const std::string jobs = readFile(bin / "jobs");
    const size_t sfmEnd = jobs.find('\n');
    EXPECT_EQ(jobs.substr(0, sfmEnd).find("--comment=dense"), std::string::npos) << jobs;
    EXPECT_NE(jobs.find("--comment=dense", sfmEnd), std::string::npos) << jobs;
}

}  // namespace
