#include "win32/menus/menu_images.h"

#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>

#include "core/platform/menus.h"
#include "win32/com_scope.h"

namespace vtl::win32 {
namespace {

using Microsoft::WRL::ComPtr;

// Icons carry several frames: take the smallest that is at least `size`,
// else the largest.
ComPtr<IWICBitmapFrameDecode> BestFrame(IWICBitmapDecoder* decoder, int size) {
  UINT count = 0;
  if (FAILED(decoder->GetFrameCount(&count)) || count == 0) return {};
  ComPtr<IWICBitmapFrameDecode> best;
  UINT bestSide = 0;
  for (UINT i = 0; i < std::min<UINT>(count, 64); ++i) {
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT width = 0, height = 0;
    if (FAILED(decoder->GetFrame(i, &frame)) || FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0) {
      continue;
    }
    const UINT side = std::max(width, height);
    const UINT wanted = static_cast<UINT>(size);
    const bool better = !best || (side >= wanted ? (bestSide < wanted || side < bestSide) : (bestSide < wanted && side > bestSide));
    if (better) {
      best = frame;
      bestSide = side;
    }
    // Only icons are worth a search; other formats animate or page.
    if (count > 1 && i == 0) {
      GUID format{};
      if (SUCCEEDED(decoder->GetContainerFormat(&format)) && format != GUID_ContainerFormatIco) break;
    }
  }
  return best;
}

// Disabled items show their image in light grey: the luminance halfway to
// white. In premultiplied pixels white is the alpha value, so this holds
// whether or not the menu blends the image's alpha.
void MakeGrey(BYTE* pixels, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    BYTE* p = pixels + i * 4;
    const int luminance = (p[2] * 77 + p[1] * 150 + p[0] * 29) >> 8;
    p[0] = p[1] = p[2] = static_cast<BYTE>((luminance + p[3]) / 2);
  }
}

forms::UniqueBitmap MakeBitmap(const std::vector<BYTE>& pixels, int size) {
  void* bits = nullptr;
  forms::UniqueBitmap bitmap(forms::CreateTopDownBitmap(size, &bits));
  if (!bitmap || !bits) return {};
  std::memcpy(bits, pixels.data(), pixels.size());
  return bitmap;
}

}  // namespace

bool DecodeMenuImage(std::string_view bytes, int size, std::vector<BYTE>& pixels) {
  if (bytes.empty() || bytes.size() > MAXDWORD || size <= 0) return false;
  ComScope com;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
      FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                          static_cast<DWORD>(bytes.size()))) ||
      FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder))) {
    return false;
  }
  const ComPtr<IWICBitmapFrameDecode> frame = BestFrame(decoder.Get(), size);
  UINT width = 0, height = 0;
  if (!frame || FAILED(frame->GetSize(&width, &height))) return false;

  // Fit into the square, aspect kept, centred.
  UINT fitWidth = static_cast<UINT>(size), fitHeight = static_cast<UINT>(size);
  if (width > height) {
    fitHeight = std::max<UINT>(1, static_cast<UINT>(MulDiv(size, static_cast<int>(height), static_cast<int>(width))));
  } else if (height > width) {
    fitWidth = std::max<UINT>(1, static_cast<UINT>(MulDiv(size, static_cast<int>(width), static_cast<int>(height))));
  }
  ComPtr<IWICBitmapSource> source = frame;
  if (fitWidth != width || fitHeight != height) {
    ComPtr<IWICBitmapScaler> scaler;
    if (FAILED(factory->CreateBitmapScaler(&scaler)) ||
        FAILED(scaler->Initialize(frame.Get(), fitWidth, fitHeight, WICBitmapInterpolationModeFant))) {
      return false;
    }
    source = scaler;
  }
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(source.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return false;
  }
  std::vector<BYTE> fitted(static_cast<size_t>(fitWidth) * fitHeight * 4);
  if (FAILED(converter->CopyPixels(nullptr, fitWidth * 4, static_cast<UINT>(fitted.size()), fitted.data()))) {
    return false;
  }
  pixels.assign(static_cast<size_t>(size) * size * 4, 0);
  const size_t left = (static_cast<size_t>(size) - fitWidth) / 2, top = (static_cast<size_t>(size) - fitHeight) / 2;
  for (size_t y = 0; y < fitHeight; ++y) {
    std::memcpy(&pixels[((top + y) * size + left) * 4], &fitted[y * fitWidth * 4], fitWidth * 4);
  }
  return true;
}

void MenuImageList::Add(const std::string& name, std::string_view bytes) {
  std::vector<BYTE> pixels;
  if (!DecodeMenuImage(bytes, size_, pixels)) throw EInvalidGraphic("The image data cannot be decoded");
  forms::UniqueBitmap normal = MakeBitmap(pixels, size_);
  MakeGrey(pixels.data(), pixels.size() / 4);
  forms::UniqueBitmap grey = MakeBitmap(pixels, size_);
  if (!normal || !grey) throw EInvalidGraphic("Out of system resources for the image");
  images_.push_back({name, std::move(normal), std::move(grey)});
}

void MenuImageList::Clear() {
  for (Image& image : images_) cleared_.push_back(std::move(image));
  images_.clear();
}

HBITMAP MenuImageList::Bitmap(int index, bool enabled) const {
  if (index < 0 || index >= Count()) return nullptr;
  const Image& image = images_[static_cast<size_t>(index)];
  return enabled ? image.normal.get() : image.grey.get();
}

}  // namespace vtl::win32
