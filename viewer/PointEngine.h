#pragma once
// Draws the point cloud and writes each point's index as its object id. Besides the whole cloud it draws
// a random sample prefix or a range of it, so that large clouds can be drawn within a time budget.
#include <cstddef>
#include <cstdint>

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLExtraFunctions>
#include <QOpenGLShaderProgram>
#include <QVector3D>

#include "viewer/SceneTypes.h"

class QOpenGLContext;

class PointEngine : protected QOpenGLExtraFunctions {
public:
    using Point = viewer::ScenePoint;

    // Needs `context` current. Throws std::runtime_error("makeShaderProgram() failure") and the GL
    // assertions "mVertices.create()".
    explicit PointEngine(QOpenGLContext* context);

    // Uploads the points once; object ids are objIdOffset + point index.
    void setPoints(const Point* points, size_t count, uint32_t objIdOffset);
    // Rewrites the highlight byte of the given points in place, without a new upload of the cloud.
    void updatePoints(const Point* points, const uint32_t* indices, size_t nbIndices);
    size_t count() const { return mCount; }

    struct Style {
        QMatrix4x4 projMat;
        QVector3D C;
        bool usePerspectiveSize = true;
        float sizeFactor = 2;
    };
    // Every point; nothing when there are none.
    void draw(const Style& style);
    // The first `nb` points of a fixed random sample (indices kept, so ids still name the model's points).
    void drawSample(const Style& style, size_t nb);
    // The points first .. first + nb - 1, in model order.
    void drawRange(const Style& style, size_t first, size_t nb);
    size_t sampleSize() const { return mSampleSize; }

private:
    void bindProgram(const Style& style);
    void release();

    QOpenGLShaderProgram mShader;
    size_t mCount = 0;
    QOpenGLBuffer mVertices{QOpenGLBuffer::VertexBuffer};
    uint32_t mObjIdOffset = 0;
    QOpenGLBuffer mSample{QOpenGLBuffer::IndexBuffer};
    size_t mSampleSize = 0;
};
