#pragma once

// The item images of one menu: each image of the collection decoded once by
// the platform decoder (WIC) into a square of premultiplied 32-bit pixels,
// with a grey twin for disabled items.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "win32/forms/form_support.h"

namespace vtl::win32 {

class MenuImageList {
 public:
  // Images are `size` pixels square (16 at 96 dpi).
  explicit MenuImageList(int size) : size_(size) {}

  int Count() const { return static_cast<int>(images_.size()); }
  int ImageSize() const { return size_; }
  // Named images in collection order.
  const std::string& Name(int index) const { return images_[static_cast<size_t>(index)].name; }

  // Decodes PNG, JPEG, BMP, GIF, ICO or any other format WIC reads, fitted
  // into the square with its aspect kept. Raises EInvalidGraphic when the
  // bytes do not decode; nothing is added then.
  void Add(const std::string& name, std::string_view bytes);

  // Empties the collection. The bitmaps stay alive until ReleaseCleared, so
  // that a menu still showing them is never left with freed handles.
  void Clear();
  void ReleaseCleared() { cleared_.clear(); }

  // The bitmap of image `index` for an enabled or a disabled item; null
  // when there is no such image.
  HBITMAP Bitmap(int index, bool enabled) const;

 private:
  struct Image {
    std::string name;
    forms::UniqueBitmap normal;
    forms::UniqueBitmap grey;
  };
  int size_;
  std::vector<Image> images_;
  std::vector<Image> cleared_;
};

// Pixels decoded into premultiplied BGRA, `size` pixels square, or false.
bool DecodeMenuImage(std::string_view bytes, int size, std::vector<BYTE>& pixels);

}  // namespace vtl::win32
