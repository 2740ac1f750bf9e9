#include "viewer/AxisEngine.h"

#include <cmath>
#include <vector>

#include "viewer/GlAssert.h"
#include "viewer/ShaderProgram.h"

AxisEngine::AxisEngine(QOpenGLContext* context) {
    (void)context;
    initializeOpenGLFunctions();
    makeShaderProgram(mAxisShader, "shaders/drawAxisVertex.glsl", "shaders/drawAxisFragment.glsl", *this);
    std::vector<float> xy;
    for (int i = 0; i <= nbSegments; ++i) {
        const double theta = i * 2 * M_PI / nbSegments;
        xy.push_back(float(std::cos(theta)));
        xy.push_back(float(std::sin(theta)));
    }
    xy.insert(xy.end(), {1.0f, 0.0f, 0.0f, 0.0f});
    KX_GL_ASSERT(mVertices.create());
    KX_GL_ASSERT(mVertices.bind());
    mVertices.allocate(xy.data(), int(xy.size() * sizeof(float)));
    mVertices.release();
}

void AxisEngine::draw(const QMatrix4x4& projMat, const QVector3D& center, float radius) {
    KX_GL_ASSERT(mVertices.bind());
    KX_GL_ASSERT(mAxisShader.bind());
    mAxisShader.setUniformValue("projMat", projMat);
    mAxisShader.setUniformValue("center", center);
    mAxisShader.setUniformValue("nbSegments", nbSegments);
    mAxisShader.setUniformValue("radius", radius);
    const int position = mAxisShader.attributeLocation("position");
    mAxisShader.enableAttributeArray(position);
    glVertexAttribPointer(position, 2, GL_FLOAT, GL_FALSE, 8, nullptr);
    for (int axisType = 0; axisType < 3; ++axisType) {
        mAxisShader.setUniformValue("axisType", axisType);
        glDrawArrays(GL_LINE_STRIP, 0, nbSegments + 3);
    }
    mAxisShader.disableAttributeArray(position);
    mAxisShader.release();
    mVertices.release();
}
