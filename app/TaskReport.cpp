#include "app/TaskReport.h"

#include <fstream>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "model/ByteSource.h"
#include "model/PlyHeader.h"
#include "vexkit/FileType.h"
#include "vexkit/Paths.h"

namespace app {

namespace {
// Reports are a few kilobytes; anything far larger is not one.
constexpr qint64 kMaxReportBytes = 16 * 1024 * 1024;
}  // namespace

std::optional<AlignmentReport> readAlignmentReport(const std::filesystem::path& file) {
    QFile in(toQStr(file));
    if (!in.open(QIODevice::ReadOnly) || in.size() > kMaxReportBytes) {
        return std::nullopt;
    }
    const QJsonObject json = QJsonDocument::fromJson(in.readAll()).object();
    const QJsonValue images = json.value(QStringLiteral("images"));
    const QJsonValue registered = json.value(QStringLiteral("registeredImages"));
    if (!images.isDouble() || !registered.isDouble()) {
        return std::nullopt;
    }
    AlignmentReport report;
    report.nbImages = images.toVariant().toLongLong();
    report.nbRegistered = registered.toVariant().toLongLong();
    report.nbPoints = json.value(QStringLiteral("points")).toVariant().toLongLong();
    report.meanReprojectionError = json.value(QStringLiteral("meanReprojectionError")).toDouble();
    const QJsonValue residual = json.value(QStringLiteral("alignmentResidual"));
    if (residual.isDouble()) {
        report.alignmentResidual = residual.toDouble();
    }
    for (const QJsonValue& path : json.value(QStringLiteral("unregistered")).toArray()) {
        report.unregistered.push_back(path.toString());
    }
    return report;
}

QStringList alignmentSummary(const AlignmentReport& report) {
    QString line = QStringLiteral("Aligned %1 of %2 photographs: %3 points, mean reprojection error %4 px")
                       .arg(report.nbRegistered)
                       .arg(report.nbImages)
                       .arg(report.nbPoints)
                       .arg(report.meanReprojectionError, 0, 'f', 2);
    if (report.alignmentResidual) {
        line += QStringLiteral(", GPS residual %1 m").arg(*report.alignmentResidual, 0, 'f', 2);
    }
    QStringList lines{line};
    for (const QString& path : report.unregistered) {
        lines.push_back(QStringLiteral("Not aligned: ") + path);
    }
    return lines;
}

QString incompleteAlignmentText(const AlignmentReport& report) {
    if (report.nbRegistered >= report.nbImages) {
        return QString();
    }
    const int64_t nbLeft = report.nbImages - report.nbRegistered;
    return QStringLiteral("Only %1 of %2 photographs were aligned. The log lists the %3 left out.")
        .arg(report.nbRegistered)
        .arg(report.nbImages)
        .arg(nbLeft);
}

QString denseCloudSummary(const std::filesystem::path& ply) {
    try {
        std::ifstream in(ply, std::ios::binary);
        kxmodel::ByteSource source(in, 4096);
        for (const kxmodel::PlyElement& element : kxmodel::readPlyHeader(source).elements) {
            if (element.name == "vertex") {
                return QStringLiteral("Dense cloud: %1 points").arg(element.count);
            }
        }
    } catch (const std::exception&) {
        // The viewer says what is wrong with the file when it opens it.
    }
    return QString();
}

ResultSummary summarizeResults(const std::vector<std::filesystem::path>& results) {
    ResultSummary summary;
    for (const std::filesystem::path& file : results) {
        const std::string ext = getFileExtension(file);
        if (ext == ".json") {
            if (const std::optional<AlignmentReport> report = readAlignmentReport(file)) {
                summary.lines += alignmentSummary(*report);
                summary.incomplete = incompleteAlignmentText(*report);
            }
        } else if (ext == ".ply") {
            const QString line = denseCloudSummary(file);
            if (!line.isEmpty()) {
                summary.lines.push_back(line);
            }
        }
    }
    return summary;
}

}  // namespace app
