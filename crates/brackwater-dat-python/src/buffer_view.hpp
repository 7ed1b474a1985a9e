#pragma once

#include <pybind11/pybind11.h>

#include <brackwater_dat/bytes.hpp>
#include <cstdint>
#include <span>

namespace brackwater_dat::python {

// The bytes of any contiguous bytes-like object, while it is held; a
// writable one (a bytearray, a memoryview, a numpy array) when asked for.
class BufferView {
 public:
  explicit BufferView(const pybind11::object& data, bool writable = false) {
    if (PyObject_GetBuffer(data.ptr(), &view_, writable ? PyBUF_WRITABLE : PyBUF_SIMPLE) != 0) {
      throw pybind11::error_already_set();
    }
  }
  ~BufferView() { PyBuffer_Release(&view_); }
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;

  ByteView bytes() const noexcept { return writable_bytes(); }
  // Only for a view asked for as writable.
  std::span<std::uint8_t> writable_bytes() const noexcept {
    return {static_cast<std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
};

}  // namespace brackwater_dat::python
