#pragma once
// Checks of the image project report under the dashboard's unit name, wherever the check lives.
#include "vexkit/Assert.h"

#define DASH_ASSERT_TEXT(expr, text) \
    ::vexkit::impl::assertImpl(static_cast<bool>(expr), text, "ImageDashWidget", __LINE__)
#define DASH_ASSERT(expr) DASH_ASSERT_TEXT(expr, #expr)
