#pragma once
#include <cstddef>
#include <memory>
#include <utility>

namespace ormelin {

// Scratch storage that grows to the largest size asked for and is then reused as it stands:
// unlike std::vector::resize it never clears what it hands out, so steady-state loads neither
// allocate nor touch memory twice.
template <class T> class ReusableArray
{
public:
    // At least count elements, contents unspecified. May throw std::bad_alloc.
    T *ensure(std::size_t count)
    {
        if (count > m_capacity) {
            release();
            m_data = std::make_unique_for_overwrite<T[]>(count);
            m_capacity = count;
        }
        return m_data.get();
    }
    // Gives the memory back, for a one-off size not worth keeping.
    void release()
    {
        m_data.reset();
        m_capacity = 0;
    }
    T *data() { return m_data.get(); }
    const T *data() const { return m_data.get(); }
    std::size_t capacity() const { return m_capacity; }

    friend void swap(ReusableArray &a, ReusableArray &b) noexcept
    {
        std::swap(a.m_data, b.m_data);
        std::swap(a.m_capacity, b.m_capacity);
    }

private:
    std::unique_ptr<T[]> m_data;
    std::size_t m_capacity = 0;
};

} // namespace ormelin
