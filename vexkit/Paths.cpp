#include "vexkit/Paths.h"

std::filesystem::path toPath(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return std::filesystem::u8path(utf8.constData(), utf8.constData() + utf8.size());
}

QString toQStr(const std::filesystem::path& path) {
    const std::string utf8 = path.u8string();
    return QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size()));
}
