#include "viewer/PointEngine.h"

#include <algorithm>
#include <random>
#include <vector>

#include "viewer/GlAssert.h"
#include "viewer/ShaderProgram.h"

namespace {
// Enough for any frame drawn within an interactive budget on a software renderer, small beside the cloud.
constexpr size_t kMaxSample = size_t(1) << 21;
}  // namespace

PointEngine::PointEngine(QOpenGLContext* context) {
    (void)context;
    initializeOpenGLFunctions();
    makeShaderProgram(mShader, "shaders/drawPointsVertex.glsl", "shaders/drawPointsFragment.glsl", *this);
    KX_GL_ASSERT(mVertices.create());
    mVertices.setUsagePattern(QOpenGLBuffer::StaticDraw);
    KX_GL_ASSERT(mSample.create());
    mSample.setUsagePattern(QOpenGLBuffer::StaticDraw);
}

void PointEngine::setPoints(const Point* points, size_t count, uint32_t objIdOffset) {
    KX_GL_ASSERT(mVertices.bind());
    // Through GL directly: a cloud past 2 GiB does not fit the int size of QOpenGLBuffer::allocate.
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(count * sizeof(Point)), points, GL_STATIC_DRAW);
    mVertices.release();
    mCount = count;
    mObjIdOffset = objIdOffset;
    // Points drawn in the order of a uniform random sample: any prefix is spread over the whole cloud,
    // wherever the file's order clusters them. Repeats are harmless (same depth, same id).
    mSampleSize = std::min(count, kMaxSample);
    std::vector<uint32_t> sample(mSampleSize);
    std::mt19937 rng(0x5eed);
    std::uniform_int_distribution<uint32_t> pick(0, count == 0 ? 0 : uint32_t(count - 1));
    for (auto& index : sample) {
        index = pick(rng);
    }
    KX_GL_ASSERT(mSample.bind());
    mSample.allocate(sample.data(), int(sample.size() * sizeof(uint32_t)));
    mSample.release();
}

void PointEngine::updatePoints(const Point* points, const uint32_t* indices, size_t nbIndices) {
    KX_GL_ASSERT(mVertices.bind());
    for (size_t k = 0; k < nbIndices; ++k) {
        const uint32_t i = indices[k];
        if (i < mCount) {
            glBufferSubData(GL_ARRAY_BUFFER, GLintptr(size_t(i) * sizeof(Point)), sizeof(Point), &points[i]);
        }
    }
    mVertices.release();
}

void PointEngine::bindProgram(const Style& style) {
    KX_GL_ASSERT(mShader.bind());
    KX_GL_ASSERT(mVertices.bind());
    mShader.setUniformValue("projMat", style.projMat);
    mShader.setUniformValue("sizeFactor", style.sizeFactor);
    mShader.setUniformValue("usePerspectiveSize", GLint(style.usePerspectiveSize));
    mShader.setUniformValue("C", style.C);
    // An unsigned uniform needs glUniform1ui; the program's integer setter would be refused.
    glUniform1ui(mShader.uniformLocation("objIdOffset"), mObjIdOffset);
    const int position = mShader.attributeLocation("inPosition");
    const int color = mShader.attributeLocation("inColor");
    const int highlight = mShader.attributeLocation("inHighlight");
    mShader.enableAttributeArray(position);
    mShader.enableAttributeArray(color);
    mShader.enableAttributeArray(highlight);
    glVertexAttribPointer(position, 3, GL_FLOAT, GL_FALSE, sizeof(Point), nullptr);
    glVertexAttribPointer(color, 3, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(Point), reinterpret_cast<void*>(12));
    glVertexAttribPointer(highlight, 1, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(Point),
                          reinterpret_cast<void*>(15));
}

void PointEngine::release() {
    mShader.disableAttributeArray("inPosition");
    mShader.disableAttributeArray("inColor");
    mShader.disableAttributeArray("inHighlight");
    mVertices.release();
    mShader.release();
}

void PointEngine::draw(const Style& style) {
    drawRange(style, 0, mCount);
}

void PointEngine::drawRange(const Style& style, size_t first, size_t nb) {
    if (first >= mCount || nb == 0) {
        return;
    }
    nb = std::min(nb, mCount - first);
    bindProgram(style);
    glDrawArrays(GL_POINTS, GLint(first), GLsizei(nb));
    release();
}

void PointEngine::drawSample(const Style& style, size_t nb) {
    nb = std::min(nb, mSampleSize);
    if (nb == 0) {
        return;
    }
    bindProgram(style);
    KX_GL_ASSERT(mSample.bind());
    glDrawElements(GL_POINTS, GLsizei(nb), GL_UNSIGNED_INT, nullptr);
    mSample.release();
    release();
}
