#pragma once
// Draws each camera as a frustum with its photograph on the image plane, and writes the camera's object id.
// Thumbnails are decoded on the thread pool, once per path for the engine's life; a placeholder stands in
// until one is ready, and for a file that is missing or cannot be decoded.
#include <cstdint>
#include <memory>
#include <vector>

#include <QHash>
#include <QImage>
#include <QMatrix4x4>
#include <QObject>
#include <QOpenGLBuffer>
#include <QOpenGLExtraFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QSet>

#include "viewer/OnPool.h"
#include "viewer/SceneTypes.h"

class QOpenGLContext;

class CaptureEngine : public QObject, protected QOpenGLExtraFunctions {
    Q_OBJECT
public:
    using Capture = viewer::SceneCapture;

    // Needs `context` current. Throws std::runtime_error("makeShaderProgram() failure") and the GL
    // assertions of the index buffers.
    explicit CaptureEngine(QOpenGLContext* context);
    ~CaptureEngine() override;

    // Rebuilds the frustum buffers and texture slots. Capture i gets the object id objIdOffset + i.
    void setCaptures(const Capture* captures, size_t count, uint32_t objIdOffset, float scale);
    // Any value outside the captures means none.
    void setHighlighted(uint64_t index) { mHighlighted = index; }
    void draw(const QMatrix4x4& projMat);

signals:
    // A thumbnail arrived (or failed for good): the next frame shows it.
    void thumbnailDecoded();

private:
    // The capture's texture, or the placeholder while its thumbnail is decoding; needs the context current.
    std::shared_ptr<QOpenGLTexture> textureOf(uint32_t index);
    void takeThumbnail(const QString& path, const viewer::PoolOutcome<QImage>& outcome);
    void bindPosition(QOpenGLShaderProgram& program);

    QOpenGLShaderProgram mLineShader;
    QOpenGLShaderProgram mImageShader;
    QHash<QString, std::shared_ptr<QOpenGLTexture>> mCache;
    QSet<QString> mDecoding;
    QHash<QString, QImage> mDecoded;  // until a frame, with the context current, makes their textures
    uint64_t mHighlighted = UINT64_MAX;
    std::vector<QString> mPaths;  // a copy: the caller's captures may be swapped before the next draw
    size_t mNbCaptures = 0;
    std::vector<std::unique_ptr<QOpenGLBuffer>> mCapVertices;
    QOpenGLBuffer mLines{QOpenGLBuffer::IndexBuffer};
    QOpenGLBuffer mImageTriangles{QOpenGLBuffer::IndexBuffer};
    std::shared_ptr<QOpenGLTexture> mPlaceholder;
    std::vector<std::shared_ptr<QOpenGLTexture>> mTextures;  // null while the thumbnail is decoding
    uint32_t mObjIdOffset = 0;
};
