#include "quillmark/graphics/DIBSection.h"

#include <exception>

#include "quillmark/frame/Frame.h"

namespace qm {

struct clsDIBSection::Impl {
  std::shared_ptr<DeviceContext> memoryContext{};
  std::shared_ptr<Bitmap> dib{};
  std::shared_ptr<Bitmap> previous{};  // selected in the memory context before the DIB
  std::uint8_t* bits = nullptr;
  BitmapInfoHeader header{};
};

clsDIBSection::clsDIBSection() : impl_(std::make_unique<Impl>()) {}

clsDIBSection::~clsDIBSection() { Release(); }

const std::shared_ptr<DeviceContext>& clsDIBSection::hDC() const { return impl_->memoryContext; }
const BitmapInfoHeader& clsDIBSection::Header() const { return impl_->header; }

bool clsDIBSection::Create(std::int32_t Width, std::int32_t Height) {
  QM_FRAME_TRY {
    ClearUp();
    impl_->memoryContext = std::make_shared<DeviceContext>();
    std::shared_ptr<Bitmap> dib;
    if (!CreateDIB(*impl_->memoryContext, Width, Height, dib)) {
      impl_->memoryContext.reset();
      return false;
    }
    impl_->dib = std::move(dib);
    impl_->bits = impl_->dib->Bits();
    impl_->previous = impl_->memoryContext->SelectObject(impl_->dib);
    return true;
  }
  QM_FRAME_CATCH("DIBSection", "Public Function Create", Width, Height);
}

bool clsDIBSection::CreateDIB(DeviceContext& hDC, std::int32_t Width, std::int32_t Height,
                              std::shared_ptr<Bitmap>& hDib) {
  QM_FRAME_TRY {
    (void)hDC;  // a memory DIB does not depend on the context's device
    impl_->header = BitmapInfoHeader{};
    impl_->header.biSize = 40;
    impl_->header.biWidth = Width;
    impl_->header.biHeight = Height;
    impl_->header.biPlanes = 1;
    impl_->header.biBitCount = 24;
    impl_->header.biCompression = 0;
    impl_->header.biSizeImage =
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
    if (!impl_->memoryContext) return;
    BitBlt(*impl_->memoryContext, 0, 0, SrcWidth < 0 ? impl_->header.biWidth : SrcWidth,
           SrcHeight < 0 ? impl_->header.biHeight : SrcHeight, hDC, SrcLeft, SrcTop, Rop);
  }
  QM_FRAME_CATCH("DIBSection", "Public Sub LoadPictureBlt", hDC, SrcLeft, SrcTop, SrcWidth, SrcHeight, Rop);
}

std::int32_t clsDIBSection::BytesPerScanLine() const {
  QM_FRAME_TRY { return static_cast<std::int32_t>((std::int64_t{3} * impl_->header.biWidth + 3) & ~std::int64_t{3}); }
  QM_FRAME_CATCH("DIBSection", "Public Property Get BytesPerScanLine");
}

std::int32_t clsDIBSection::Width() const {
  QM_FRAME_TRY { return impl_->header.biWidth; }
  QM_FRAME_CATCH("DIBSection", "Public Property Get Width");
}

std::int32_t clsDIBSection::Height() const {
  QM_FRAME_TRY { return impl_->header.biHeight; }
  QM_FRAME_CATCH("DIBSection", "Public Property Get Height");
}

std::uint8_t* clsDIBSection::DIBSectionBitsPtr() const {
  QM_FRAME_TRY { return impl_->bits; }
  QM_FRAME_CATCH("DIBSection", "Public Property Get DIBSectionBitsPtr");
}

void clsDIBSection::ClearUp() {
  QM_FRAME_TRY { Release(); }
  QM_FRAME_CATCH("DIBSection", "Public Sub ClearUp");
}

void clsDIBSection::Release() noexcept {
  if (impl_->memoryContext) {
    if (impl_->dib) {
      impl_->memoryContext->SelectObject(std::move(impl_->previous));
      impl_->dib.reset();
    }
    impl_->memoryContext.reset();
  }
  impl_->dib.reset();
  impl_->previous.reset();
  impl_->bits = nullptr;
}

}  // namespace qm
