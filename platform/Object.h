#pragma once
// Intrusive reference counting: every platform and program object derives from Object, which has
// RefCount as a virtual base, so one count serves all the interfaces an object implements.
#include <atomic>
#include <cstddef>
#include <utility>

class RefCount {
  public:
    RefCount() = default;
    RefCount(const RefCount&) = delete;
    RefCount& operator=(const RefCount&) = delete;
    virtual ~RefCount() = default;

    void retain() const { m_count.fetch_add(1, std::memory_order_relaxed); }
    void release() const {
        if (m_count.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }

  private:
    mutable std::atomic<long> m_count{0};
};

class Object : public virtual RefCount {};

// A handle to a reference-counted object. An empty Ref means "no object"; factories return one on
// failure and leave the reason in Error::get.
template <typename T> class Ref {
  public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    Ref(T* object) : m_ptr(object) { retainPtr(); }
    Ref(const Ref& other) : m_ptr(other.m_ptr) { retainPtr(); }
    Ref(Ref&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    template <typename U> Ref(const Ref<U>& other) : m_ptr(other.get()) { retainPtr(); }
    ~Ref() { releasePtr(); }

    Ref& operator=(const Ref& other) {
        Ref copy(other);
        std::swap(m_ptr, copy.m_ptr);
        return *this;
    }
    Ref& operator=(Ref&& other) noexcept {
        Ref moved(std::move(other));
        std::swap(m_ptr, moved.m_ptr);
        return *this;
    }

    T* get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    T& operator*() const { return *m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }
    bool operator==(const Ref& other) const { return m_ptr == other.m_ptr; }
    void reset() { Ref().swap(*this); }
    void swap(Ref& other) noexcept { std::swap(m_ptr, other.m_ptr); }

  private:
    void retainPtr() const {
        if (m_ptr) static_cast<const RefCount*>(m_ptr)->retain();
    }
    void releasePtr() const {
        if (m_ptr) static_cast<const RefCount*>(m_ptr)->release();
    }
    T* m_ptr = nullptr;
};

template <typename T, typename... Args> Ref<T> makeRef(Args&&... args) {
    return Ref<T>(new T(std::forward<Args>(args)...));
}
