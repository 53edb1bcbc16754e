#include "win32/body_stream.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "win32/com_ptr.h"

namespace vtl::win32 {
namespace {

// Agile: WebView2 reads a response's stream on a thread of its own, and asks
// for one that needs no marshalling to get there. The stream aggregates the
// free-threaded marshaler, so that every apartment of the process gets this
// object itself; every method is safe on any thread (one lock).
class BodyStream final : public ComObject<IStream> {
 public:
  BodyStream(std::string bytes, std::function<void(std::string&&)> release)
      : bytes_(std::move(bytes)), release_(std::move(release)) {
    CoCreateFreeThreadedMarshaler(static_cast<IUnknown*>(this), marshaler_.Put());
  }
  ~BodyStream() override {
    marshaler_.Reset();
    if (release_) release_(std::move(bytes_));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object && marshaler_ && IsEqualIID(riid, IID_IMarshal)) return marshaler_->QueryInterface(riid, object);
    return ComObject<IStream>::QueryInterface(riid, object);
  }

  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override {
    if (!buffer) return STG_E_INVALIDPOINTER;
    const std::lock_guard lock(lock_);
    const size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    const auto n = static_cast<ULONG>(std::min<size_t>(size, available));
    if (n) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    if (read) *read = n;
    return n == size ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override {
    if (written) *written = 0;
    return STG_E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    const std::lock_guard lock(lock_);
    long long base = 0;
    switch (origin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<long long>(position_); break;
      case STREAM_SEEK_END: base = static_cast<long long>(bytes_.size()); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    const long long target = base + move.QuadPart;
    if (target < 0) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<size_t>(target);
    if (newPosition) newPosition->QuadPart = position_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                                   ULARGE_INTEGER* written) override {
    if (!target) return STG_E_INVALIDPOINTER;
    const std::lock_guard lock(lock_);
    const size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    const auto n = static_cast<ULONG>(std::min<unsigned long long>(size.QuadPart, std::min<size_t>(available, 0xFFFFFFFFu)));
    ULONG done = 0;
    const HRESULT hr = target->Write(bytes_.data() + position_, n, &done);
    position_ += n;
    if (read) read->QuadPart = n;
    if (written) written->QuadPart = done;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (!stat) return STG_E_INVALIDPOINTER;
    *stat = STATSTG{};
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = bytes_.size();
    stat->grfMode = STGM_READ;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream** clone) override {
    if (!clone) return STG_E_INVALIDPOINTER;
    const std::lock_guard lock(lock_);
    auto* copy = new BodyStream(bytes_, {});
    copy->position_ = position_;
    *clone = copy;
    return S_OK;
  }

 private:
  bool Answers(REFIID riid) const override {
    return IsEqualIID(riid, IID_ISequentialStream) || IsEqualIID(riid, IID_IStream);
  }
  std::string bytes_;
  std::function<void(std::string&&)> release_;
  size_t position_ = 0;
  std::mutex lock_;
  ComPtr<IUnknown> marshaler_;  // the free-threaded marshaler's inner IUnknown
};

}  // namespace

IStream* CreateBodyStream(std::string bytes, std::function<void(std::string&&)> release) {
  return new BodyStream(std::move(bytes), std::move(release));
}

}  // namespace vtl::win32
