// File names as Python's open() takes them, and texts from C++ that may quote them.
#include <Python.h>

#include "bindings.hpp"

namespace py = pybind11;

namespace zel_python {

std::string file_path(const py::handle& path) {
  PyObject* encoded = nullptr;
  // str (encoded as the file system encodes names, surrogate escapes back to their bytes), bytes
  // or os.PathLike; TypeError for anything else, ValueError for a NUL byte.
  if (PyUnicode_FSConverter(path.ptr(), &encoded) == 0) throw py::error_already_set();
  const auto bytes = py::reinterpret_steal<py::bytes>(encoded);
  return std::string(PyBytes_AS_STRING(encoded),
                     static_cast<std::size_t>(PyBytes_GET_SIZE(encoded)));
}

py::str file_name_text(const std::string& name) {
  PyObject* text =
      PyUnicode_DecodeFSDefaultAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

py::str message_text(const std::string& message) {
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                        "backslashreplace");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

}  // namespace zel_python
