#pragma once

// Forward declarations of the skin engine's types, for headers that only pass them along.

#include "foundation/rect.h"

namespace skin {

using foundation::Rect;

class Bitmap;
class Blend;
class ClipScope;
class FontRep;
class RenderSurface;
class SkinImage;
class SkinPicture;
class Surface;
struct FontSpec;
struct NodeDir;
struct PictureRecord;
struct SkinColor;
struct SkinPoint;

} // namespace skin
