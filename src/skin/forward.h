#pragma once

// Forward declarations of the skin engine's types, for headers that only pass them along.

namespace skin {

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
struct Rect;
struct SkinColor;
struct SkinPoint;

} // namespace skin
