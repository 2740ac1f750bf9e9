#include "viewer/CaptureEngine.h"

#include <QFileInfo>
#include <QImage>

#include "vexkit/DebugLine.h"
#include "viewer/GlAssert.h"
#include "viewer/ShaderProgram.h"
#include "viewer/Thumbnails.h"

namespace {
// Optical axis, four rays to the corners, the image rectangle, and the tick towards the x = w edge.
constexpr GLubyte kLineIndices[20] = {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 2, 3, 2, 4, 3, 5, 4, 5, 1, 6};
constexpr GLubyte kImageIndices[4] = {2, 3, 4, 5};

std::shared_ptr<QOpenGLTexture> makeTexture(const QImage& image) {
    auto texture = std::make_shared<QOpenGLTexture>(image, QOpenGLTexture::DontGenerateMipMaps);
    texture->setMinificationFilter(QOpenGLTexture::Nearest);
    texture->setMagnificationFilter(QOpenGLTexture::Linear);
    texture->setBorderColor(Qt::white);
    texture->setWrapMode(QOpenGLTexture::ClampToEdge);
    return texture;
}
}  // namespace

CaptureEngine::CaptureEngine(QOpenGLContext* context) {
    (void)context;
    initializeOpenGLFunctions();
    makeShaderProgram(mLineShader, "shaders/drawLinesVertex.glsl", "shaders/drawLinesFragment.glsl", *this);
    makeShaderProgram(mImageShader, "shaders/drawImageVertex.glsl", "shaders/drawImageFragment.glsl", *this);
    KX_GL_ASSERT(mLines.create());
    KX_GL_ASSERT(mLines.bind());
    mLines.allocate(kLineIndices, sizeof(kLineIndices));
    mLines.release();
    KX_GL_ASSERT(mImageTriangles.create());
    KX_GL_ASSERT(mImageTriangles.bind());
    mImageTriangles.allocate(kImageIndices, sizeof(kImageIndices));
    mImageTriangles.release();
    QImage placeholder(2, 2, QImage::Format_RGBA8888);
    placeholder.fill(QColor(255, 255, 255, 64));
    mPlaceholder = makeTexture(placeholder);
}

CaptureEngine::~CaptureEngine() = default;

void CaptureEngine::setCaptures(const Capture* captures, size_t count, uint32_t objIdOffset, float scale) {
    mCapVertices.clear();
    mTextures.clear();
    mPaths.clear();
    mNbCaptures = count;
    mObjIdOffset = objIdOffset;
    for (size_t i = 0; i < count; ++i) {
        const auto vertices = viewer::frustumVertices(captures[i], scale);
        auto buf = std::make_unique<QOpenGLBuffer>(QOpenGLBuffer::VertexBuffer);
        KX_GL_ASSERT(buf->create());
        KX_GL_ASSERT(buf->bind());
        buf->allocate(vertices.data(), int(sizeof(vertices)));
        buf->release();
        mCapVertices.push_back(std::move(buf));

        const QString& path = captures[i].imagePath;
        mPaths.push_back(path);
        std::shared_ptr<QOpenGLTexture> texture;
        if (!QFileInfo(path).isFile()) {
            texture = mPlaceholder;
        } else if (auto cached = mCache.find(path); cached != mCache.end()) {
            texture = cached.value();
        } else if (!mDecoding.contains(path) && !mDecoded.contains(path)) {
            // A path is decoded once, however many captures share it or however often they are rebuilt.
            mDecoding.insert(path);
            viewer::runOnPool<QImage>(
                this, [path]() { return viewer::decodeThumbnail(path); },
                [this, path](const viewer::PoolOutcome<QImage>& outcome) { takeThumbnail(path, outcome); });
        }
        mTextures.push_back(std::move(texture));
    }
}

void CaptureEngine::takeThumbnail(const QString& path, const viewer::PoolOutcome<QImage>& outcome) {
    mDecoding.remove(path);
    try {
        mDecoded.insert(path, outcome.get());
    } catch (const std::exception& e) {
        // The placeholder stays for good: the path is not decoded again, and the failure is told once.
        vexkit::debugLine("thumbnail of " + path.toStdString() + " not decoded: " + e.what());
        mCache.insert(path, mPlaceholder);
    }
    emit thumbnailDecoded();
}

std::shared_ptr<QOpenGLTexture> CaptureEngine::textureOf(uint32_t index) {
    if (index >= mTextures.size()) {
        return mPlaceholder;
    }
    if (mTextures[index]) {
        return mTextures[index];
    }
    const QString& path = mPaths[index];
    auto cached = mCache.find(path);
    if (cached == mCache.end()) {
        const auto decoded = mDecoded.find(path);
        if (decoded == mDecoded.end()) {
            return mPlaceholder;  // still decoding
        }
        cached = mCache.insert(path, makeTexture(decoded.value()));
        mDecoded.erase(decoded);
    }
    return mTextures[index] = cached.value();
}

void CaptureEngine::bindPosition(QOpenGLShaderProgram& program) {
    const int position = program.attributeLocation("position");
    program.enableAttributeArray(position);
    glVertexAttribPointer(position, 3, GL_FLOAT, GL_FALSE, 12, nullptr);
}

void CaptureEngine::draw(const QMatrix4x4& projMat) {
    if (mNbCaptures == 0) {
        return;
    }
    for (size_t i = 0; i < mNbCaptures; ++i) {
        KX_GL_ASSERT(mCapVertices.at(i)->bind());
        KX_GL_ASSERT(mImageTriangles.bind());
        KX_GL_ASSERT(mImageShader.bind());
        mImageShader.setUniformValue("projMat", projMat);
        glUniform1ui(mImageShader.uniformLocation("inObjId"), GLuint(mObjIdOffset + i));
        mImageShader.setUniformValue("texture", 0);
        bindPosition(mImageShader);
        const auto texture = textureOf(uint32_t(i));
        glActiveTexture(GL_TEXTURE0);
        texture->bind();
        glDrawElements(GL_TRIANGLE_STRIP, 4, GL_UNSIGNED_BYTE, nullptr);
        texture->release();
    }
    for (size_t i = 0; i < mNbCaptures; ++i) {
        KX_GL_ASSERT(mCapVertices.at(i)->bind());
        KX_GL_ASSERT(mLines.bind());
        KX_GL_ASSERT(mLineShader.bind());
        mLineShader.setUniformValue("projMat", projMat);
        mLineShader.setUniformValue("highlight", GLint(i == mHighlighted));
        glUniform1ui(mLineShader.uniformLocation("inObjId"), GLuint(mObjIdOffset + i));
        bindPosition(mLineShader);
        glDrawElements(GL_LINES, 20, GL_UNSIGNED_BYTE, nullptr);
    }
    mLineShader.disableAttributeArray("position");
    mLineShader.release();
    mLines.release();
    mCapVertices.back()->release();
}
