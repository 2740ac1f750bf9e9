#pragma once
// What a finished task tells its user: how many photographs an alignment placed and which it left out,
// how many points a dense cloud has. Read from the results themselves, after they are downloaded.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

namespace app {

// The report that comes with a sparse model.
struct AlignmentReport {
    int64_t nbImages = 0;
    int64_t nbRegistered = 0;
    int64_t nbPoints = 0;
    double meanReprojectionError = 0;
    std::optional<double> alignmentResidual;  // metres, when the model was placed on its GPS positions
    QStringList unregistered;                 // photographs left out, as the configuration names them
};

// The report in `file`; nullopt when it does not read as one (an older service's, a damaged file).
std::optional<AlignmentReport> readAlignmentReport(const std::filesystem::path& file);

// "Aligned R of N photographs: P points, mean reprojection error E px[, GPS residual G m]", then one
// "Not aligned: PATH" line per photograph left out.
QStringList alignmentSummary(const AlignmentReport& report);

// What to tell in a box when not every photograph was aligned; empty when all were.
QString incompleteAlignmentText(const AlignmentReport& report);

// "Dense cloud: V points" for a PLY file; empty when its header does not read.
QString denseCloudSummary(const std::filesystem::path& ply);

// The log lines and the box text (empty: no box) of a task's downloaded results.
struct ResultSummary {
    QStringList lines;
    QString incomplete;
};
ResultSummary summarizeResults(const std::vector<std::filesystem::path>& results);

}  // namespace app
