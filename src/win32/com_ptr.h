#pragma once

// A counted reference to a COM object; IUnknown for objects of our own; and a
// COM object of one interface that forwards its single Invoke to a function:
// the completion and event handlers handed to WebView2.

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <functional>
#include <utility>

namespace vtl::win32 {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference on `p`.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out parameters: releases what is held and gives the slot.
  T** Put() {
    Reset();
    return &p_;
  }
  // Adopts a reference the caller already owns.
  static ComPtr Attach(T* p) {
    ComPtr r;
    r.p_ = p;
    return r;
  }

 private:
  T* p_ = nullptr;
};

// COM interfaces have no virtual destructor: objects end in Release.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// IUnknown for an object of our own, seen from outside as `I`: references
// counted from 1, `delete this` on the last Release, and QueryInterface
// answering IUnknown and whatever identities `Answers` accepts. `Base` is `I`
// or a class between `I` and the object.
template <class Base, class I = Base>
class ComObject : public Base {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || Answers(riid)) {
      *object = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  // The identities besides IUnknown that this object answers as `I`.
  virtual bool Answers(REFIID riid) const = 0;

 private:
  std::atomic<ULONG> refs_{1};
};

namespace detail {
template <class Method>
struct InvokeTraits;
template <class I, class... A>
struct InvokeTraits<HRESULT (STDMETHODCALLTYPE I::*)(A...)> {
  using Function = std::function<HRESULT(A...)>;
  template <class Base>
  struct Object : Base {
    Function call;
    HRESULT STDMETHODCALLTYPE Invoke(A... args) override { return call ? call(args...) : S_OK; }

   protected:
    Object() = default;
    ~Object() = default;
  };
};
}  // namespace detail

// A handler object of interface I (one Invoke method) whose identity `iid`
// it answers in QueryInterface, together with IUnknown.
template <class I>
class ComHandler final : public ComObject<typename detail::InvokeTraits<decltype(&I::Invoke)>::template Object<I>, I> {
 public:
  using Function = typename detail::InvokeTraits<decltype(&I::Invoke)>::Function;

  // The new object with one reference, owned by the returned pointer.
  static ComPtr<I> Create(const IID& iid, Function fn) {
    auto* handler = new ComHandler(iid, std::move(fn));
    return ComPtr<I>::Attach(handler);
  }

 private:
  ComHandler(const IID& iid, Function fn) : iid_(iid) { this->call = std::move(fn); }
  ~ComHandler() override = default;
  bool Answers(REFIID riid) const override { return IsEqualIID(riid, iid_); }
  const IID iid_;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace vtl::win32
