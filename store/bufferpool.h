#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace qn {

/// Same-sized buffers for a file's cached pages or blocks, carved from larger slabs and kept
/// for reuse when dropped. A cold lookup fetches a page or two: a malloc, zeroing and later a
/// free for each cost as much as the read from the page cache itself. Buffers are not zeroed.
/// The pool must outlive every buffer it handed out.
template <class T> class BufferPool {
public:
    struct Return {
        BufferPool* pool = nullptr;
        void operator()(T* p) const { pool->m_free.push_back(p); }
    };
    using Ptr = std::unique_ptr<T[], Return>;

    /// Sets the buffer size; only while no buffer is out (the slabs are let go).
    void reset(size_t size) {
        m_free.clear();
        m_slabs.clear();
        m_size = size;
    }
    size_t size() const { return m_size; }

    Ptr take() {
        if (m_free.empty()) {
            m_slabs.push_back(std::make_unique_for_overwrite<T[]>(m_size * kPerSlab));
            for (size_t i = kPerSlab; i-- > 0;)
                m_free.push_back(m_slabs.back().get() + i * m_size);
        }
        T* p = m_free.back();
        m_free.pop_back();
        return Ptr(p, Return{this});
    }

private:
    static constexpr size_t kPerSlab = 32;
    size_t m_size = 0;
    std::vector<std::unique_ptr<T[]>> m_slabs;
    std::vector<T*> m_free;
};

} // namespace qn
