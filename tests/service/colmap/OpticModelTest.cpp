#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "service/colmap/OpticModel.h"

namespace {

using Strings = std::vector<std::string>;

TEST(OpticModel, EveryCodeMapsToTheClosestModelAndSwitches) {
    const struct {
        const char* code;
        bool fixed;
        bool distorted;
        const char* model;
        bool focal, principal, extra;
        Strings refined;
    } rows[] = {
        {"F1", false, false, "SIMPLE_PINHOLE", true, false, false, {"f"}},
        {"F1", false, true, "FULL_OPENCV", true, false, false, {"fx", "fy"}},
        {"F1D2", false, false, "RADIAL", true, false, true, {"f", "k1", "k2"}},
        {"", false, false, "RADIAL", true, false, true, {"f", "k1", "k2"}},
        {"F1D5", false, true, "OPENCV", true, false, true, {"fx", "fy", "k1", "k2", "p1", "p2"}},
        {"F1C2D5",
         false,
         false,
         "OPENCV",
         true,
         true,
         true,
         {"fx", "fy", "cx", "cy", "k1", "k2", "p1", "p2"}},
        {"F2", false, false, "PINHOLE", true, false, false, {"fx", "fy"}},
        {"F2", false, true, "FULL_OPENCV", true, false, false, {"fx", "fy"}},
        {"F2D5", false, false, "OPENCV", true, false, true, {"fx", "fy", "k1", "k2", "p1", "p2"}},
        {"F2C2", false, false, "PINHOLE", true, true, false, {"fx", "fy", "cx", "cy"}},
        {"F2C2D5", false, true, "OPENCV", true, true, true, {"fx", "fy", "cx", "cy", "k1", "k2", "p1", "p2"}},
        {"F2C2D5", true, true, "FULL_OPENCV", false, false, false, {}},
        {"F1", true, false, "PINHOLE", false, false, false, {}},
    };
    for (const auto& row : rows) {
        const auto m = kxcolmap::opticModelFor(row.code, row.fixed, row.distorted);
        const std::string where =
            std::string(row.code) + (row.fixed ? " fixed" : "") + (row.distorted ? " distorted" : "");
        EXPECT_EQ(m.cameraModel, row.model) << where;
        EXPECT_EQ(m.refineFocal, row.focal) << where;
        EXPECT_EQ(m.refinePrincipalPoint, row.principal) << where;
        EXPECT_EQ(m.refineExtraParams, row.extra) << where;
        EXPECT_EQ(m.refined, row.refined) << where;
    }
    EXPECT_THROW(kxcolmap::opticModelFor("F3", false, false), std::runtime_error);
}

std::vector<double> parse(const std::string& list) {
    std::vector<double> values;
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');) {
        values.push_back(std::stod(item));
    }
    return values;
}

// The configured camera survives the trip through each model's parameter list, the principal point
// unshifted (the image centre of a 1024 x 768 camera stays at 512, 384), the parameters the model
// lacks at zero and one focal length as the mean of fx and fy.
TEST(OpticModel, ParameterListsKeepTheConfiguredCamera) {
    SfmCfg::Camera cam{1024, 768, 900.5f, 899.5f, 512, 384, 0.125f, -0.0625f, 0.001f, -0.002f, 0.01f};
    const struct {
        const char* model;
        const char* params;
        SfmCfg::Camera back;
    } rows[] = {
        {"SIMPLE_PINHOLE", "900,512,384", {0, 0, 900, 900, 512, 384, 0, 0, 0, 0, 0}},
        {"PINHOLE", "900.5,899.5,512,384", {0, 0, 900.5f, 899.5f, 512, 384, 0, 0, 0, 0, 0}},
        {"RADIAL", "900,512,384,0.125,-0.0625", {0, 0, 900, 900, 512, 384, 0.125f, -0.0625f, 0, 0, 0}},
        {"OPENCV", nullptr, {0, 0, 900.5f, 899.5f, 512, 384, 0.125f, -0.0625f, 0.001f, -0.002f, 0}},
        {"FULL_OPENCV", nullptr, {0, 0, 900.5f, 899.5f, 512, 384, 0.125f, -0.0625f, 0.001f, -0.002f, 0.01f}},
    };
    for (const auto& row : rows) {
        const std::string params = kxcolmap::cameraParams(cam, row.model);
        if (row.params) {
            EXPECT_EQ(params, row.params) << row.model;
        }
        EXPECT_EQ(kxcolmap::cameraFromParams(row.model, parse(params)), row.back) << row.model;
    }
    EXPECT_EQ(parse(kxcolmap::cameraParams(cam, "FULL_OPENCV")).size(), 12u);
}

}  // namespace
