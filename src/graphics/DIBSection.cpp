#include "quillmark/graphics/DIBSection.h"

#include <exception>

#include "quillmark/frame/Frame.h"

namespace qm {

clsDIBSection::~clsDIBSection() { Release(); }

bool clsDIBSection::Create(std::int32_t Width, std::int32_t Height) {
  QM_FRAME_TRY {
    ClearUp();
    memoryContext_ = std::make_shared<DeviceContext>();
    std::shared_ptr<Bitmap> dib;
    if (!CreateDIB(*memoryContext_, Width, Height, dib)) {
      memoryContext_.reset();
      return false;
    }
    dib_ = std::move(dib);
    bits_ = dib_->Bits();
    previous_ = memoryContext_->SelectObject(dib_);
    return true;
  }
  QM_FRAME_CATCH("DIBSection", "Public Function Create", Width, Height);
}

bool clsDIBSection::CreateDIB(DeviceContext& hDC, std::int32_t Width, std::int32_t Height,
                              std::shared_ptr<Bitmap>& hDib) {
  QM_FRAME_TRY {
    (void)hDC;  // a memory DIB does not depend on the context's device
    header_ = BitmapInfoHeader{};
    header_.biSize = 40;
    header_.biWidth = Width;
    header_.biHeight = Height;
    header_.biPlanes = 1;
    header_.biBitCount = 24;
    header_.biCompression = 0;
    header_.biSizeImage =
        static_cast<std::uint32_t>(std::int64_t{Height} * ((std::int64_t{3} * Width + 3) & ~std::int64_t{3}));
    hDib.reset();
    if (Width <= 0 || Height <= 0) return false;
    try {
      hDib = std::make_shared<Bitmap>(Width, Height);
    } catch (const std::exception&) {
      return false;  // no memory for a bitmap of that size
    }
    return true;
  }
  QM_FRAME_CATCH("DIBSection", "Public Function CreateDIB", hDC, Width, Height, hDib);
}

Variant clsDIBSection::CreateFromPicture(const Picture& picture) {
  QM_FRAME_TRY {
    const auto& bitmap = picture.Handle();
    if (!bitmap) return Variant();
    if (!Create(bitmap->Width(), bitmap->Height())) return Variant();
    // The picture's bitmap goes into a context of its own for the transfer;
    // memory contexts need no screen here, so there is no desktop context to ask for.
    DeviceContext source;
    auto before = source.SelectObject(bitmap);
    LoadPictureBlt(source, 0, 0, -1, -1, SRCCOPY);
    source.SelectObject(std::move(before));
    return Variant();
  }
  QM_FRAME_CATCH("DIBSection", "Public Function CreateFromPicture", picture);
}

void clsDIBSection::LoadPictureBlt(const DeviceContext& hDC, std::int32_t SrcLeft, std::int32_t SrcTop,
                                   std::int32_t SrcWidth, std::int32_t SrcHeight, std::uint32_t Rop) {
  QM_FRAME_TRY {
    if (!memoryContext_) return;
    BitBlt(*memoryContext_, 0, 0, SrcWidth < 0 ? header_.biWidth : SrcWidth,
           SrcHeight < 0 ? header_.biHeight : SrcHeight, hDC, SrcLeft, SrcTop, Rop);
  }
  QM_FRAME_CATCH("DIBSection", "Public Sub LoadPictureBlt", hDC, SrcLeft, SrcTop, SrcWidth, SrcHeight, Rop);
}

std::int32_t clsDIBSection::BytesPerScanLine() const {
  QM_FRAME_TRY { return static_cast<std::int32_t>((std::int64_t{3} * header_.biWidth + 3) & ~std::int64_t{3}); }
  QM_FRAME_CATCH("DIBSection", "Public Property Get BytesPerScanLine");
}

std::int32_t clsDIBSection::Width() const {
  QM_FRAME_TRY { return header_.biWidth; }
  QM_FRAME_CATCH("DIBSection", "Public Property Get Width");
}

std::int32_t clsDIBSection::Height() const {
  QM_FRAME_TRY { return header_.biHeight; }
  QM_FRAME_CATCH("DIBSection", "Public Property Get Height");
}

std::uint8_t* clsDIBSection::DIBSectionBitsPtr() const {
  QM_FRAME_TRY { return bits_; }
  QM_FRAME_CATCH("DIBSection", "Public Property Get DIBSectionBitsPtr");
}

void clsDIBSection::ClearUp() {
  QM_FRAME_TRY { Release(); }
  QM_FRAME_CATCH("DIBSection", "Public Sub ClearUp");
}

void clsDIBSection::Release() noexcept {
  if (memoryContext_) {
    if (dib_) {
      memoryContext_->SelectObject(std::move(previous_));
      dib_.reset();
    }
    memoryContext_.reset();
  }
  dib_.reset();
  previous_.reset();
  bits_ = nullptr;
}

}  // namespace qm
