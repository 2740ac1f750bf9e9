#pragma once
// GL object checks of the viewer: they print and throw under the unit name "ModelViewer", so every
// failure names the viewer whatever engine met it.
#include "vexkit/Assert.h"

#define KX_GL_ASSERT(expr) ::vexkit::impl::assertImpl(static_cast<bool>(expr), #expr, "ModelViewer", __LINE__)
