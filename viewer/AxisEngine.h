#pragma once
// The axis gizmo at the orbit target: a circle round each axis and the three positive radii.
#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLExtraFunctions>
#include <QOpenGLShaderProgram>
#include <QVector3D>

class QOpenGLContext;

class AxisEngine : protected QOpenGLExtraFunctions {
public:
    // Needs `context` current. Throws std::runtime_error("makeShaderProgram() failure").
    explicit AxisEngine(QOpenGLContext* context);
    void draw(const QMatrix4x4& projMat, const QVector3D& center, float radius);

private:
    QOpenGLShaderProgram mAxisShader;
    int nbSegments = 1024;
    QOpenGLBuffer mVertices{QOpenGLBuffer::VertexBuffer};
};
