#include "viewer/ShaderProgram.h"

#include <stdexcept>

#include <QDebug>

#include "vexkit/Resources.h"

namespace {
bool addShader(QOpenGLShaderProgram& program, QOpenGLShader::ShaderType type, const char* path) {
    const vexkit::ResourceEntry* entry = vexkit::findResource(path);
    if (entry == nullptr) {
        qDebug() << "no embedded shader" << path;
        return false;
    }
    const std::string_view source = entry->bytes();
    return program.addShaderFromSourceCode(type, QByteArray(source.data(), int(source.size())));
}
}  // namespace

void makeShaderProgram(QOpenGLShaderProgram& program, const char* vertexPath, const char* fragmentPath,
                       QOpenGLFunctions& /*gl*/) {
    if (!addShader(program, QOpenGLShader::Vertex, vertexPath) ||
        !addShader(program, QOpenGLShader::Fragment, fragmentPath) || !program.link()) {
        qDebug().noquote() << "shader program" << vertexPath << fragmentPath << ":" << program.log();
        throw std::runtime_error("makeShaderProgram() failure");
    }
}
