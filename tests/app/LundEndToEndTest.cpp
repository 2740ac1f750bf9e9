// The walk-through on real photographs, without a GPU: the headless client aligns eight lund photographs
// and densifies the model through the local service with its colmap engine. The cloud is judged against
// the sparse points, also against a tenth of them held back from the model it was made from, so that only
// real stereo can meet the rules.
#include <algorithm>
#include <functional>
#include <sys/resource.h>

#include "model/KsmModel.h"
#include "model/KsmWriter.h"
#include "model/PlyData.h"
#include "project/SfmCfgFile.h"
#include "service/Engine.h"
#include "service/colmap/CloudCheck.h"
#include "tests/remote/ServicePeer.h"
#include "vexkit/Md5.h"
#include "vexkit/Paths.h"

namespace {

std::vector<Eigen::Vector3d> asPoints(const std::vector<kxsfm::Vec3<float>>& points) {
    std::vector<Eigen::Vector3d> out;
    for (const auto& p : points) {
        out.emplace_back(p.x, p.y, p.z);
    }
    return out;
}

TEST(LundEndToEnd, TheDenseCloudOfAlignedPhotographsLiesOnTheirSparseSurface) {
    const auto lund = kxtest::sharedTestData() / "sfm-set" / "lund";
    KX_REQUIRE(!kxtest::sharedTestData().empty() && std::filesystem::exists(lund / "08.jpg"),
               "shared sample data not found (../shared/testdata/sfm-set/lund beside the checkout)");
    KX_REQUIRE(kxservice::colmapFound(), "the colmap program is not in PATH");
    setpriority(PRIO_PROCESS, 0, 10);  // the service and colmap inherit it

    kxtest::TempDir project;
    SfmCfg cfg;
    cfg.cameras.push_back({1024, 768, 1035.4f, 1035.4f, 512, 384, 0, 0, 0, 0, 0});
    for (int i = 1; i <= 8; ++i) {
        const auto path = lund / ("0" + std::to_string(i) + ".jpg");
        SfmCfg::Image image;
        image.key = FileKey(md5sumHex(path.c_str()));
        image.name = path.string();
        cfg.images.push_back(image);
    }
    cfg.settings = SfmCfg::Settings{"F1D2", false, "Global", 4000, true, false, true};
    writeSfmCfgFile(project / "sfm.json", cfg);

    kxtest::ServicePeer peer({}, "colmap");
    const QStringList common{"--project-dir", toQStr(project.path()), "--service", peer.address,
                             "--service-ca",  toQStr(peer.caFile),    "--timeout", "600"};
    const kxtest::ClientRun aligned =
        kxtest::runClient(QStringList{"--align", toQStr(project / "sfm.json")} + common, 600000);
    ASSERT_EQ(aligned.status, 0) << aligned.out.toStdString() << aligned.err.toStdString();
    const auto model = std::get<ksm::Model<1u>>(ksm::loadKsm(project / "0.ksm"));
    ASSERT_GE(model.captures.size(), 6u) << peer.taskLogs();
    // The engine's own report, told as the user reads it.
    EXPECT_TRUE(
        aligned.out.contains(QString("Aligned %1 of %2 photographs: %3 points, mean reprojection error ")
                                 .arg(model.captures.size())
                                 .arg(cfg.images.size())
                                 .arg(model.points.size())))
        << aligned.out.toStdString();

    const kxcolmap::WithheldModel reduced = kxcolmap::withholdPoints(model, 10);
    ksm::writeKsm(project / "reduced.ksm", KestrixSparseModel(reduced.model));
    const kxtest::ClientRun densified =
        kxtest::runClient(QStringList{"--densify", toQStr(project / "reduced.ksm")} + common, 600000);
    ASSERT_EQ(densified.status, 0) << densified.out.toStdString() << densified.err.toStdString();

    const kxply::PLYData cloud((project / "reduced_dense.ply").string());
    std::vector<Eigen::Vector3d> dense;
    for (const auto& p : cloud.getVertexPositions()) {
        dense.emplace_back(p[0], p[1], p[2]);
    }
    const auto& colours = cloud.getVertexColors();
    EXPECT_NE(std::adjacent_find(colours.begin(), colours.end(), std::not_equal_to<>()), colours.end());
    const std::vector<Eigen::Vector3d> sparse = asPoints(model.points);
    EXPECT_GE(dense.size(), std::max<size_t>(100000, 20 * sparse.size())) << peer.taskLogs();
    const kxcolmap::CloudCheck all = kxcolmap::checkCloud(sparse, dense, sparse);
    EXPECT_LE(all.medianPlaneDistance, 0.5);
    EXPECT_LE(all.p80PlaneDistance, 1.5);
    EXPECT_GE(all.coverage, 0.6);
    EXPECT_GE(all.insideBox, 0.95);
    EXPECT_GE(kxcolmap::checkCloud(sparse, dense, asPoints(reduced.withheld)).coverage, 0.6);
}

}  // namespace
