// The C++ errors a caller can cause, as Python exceptions: a stored profile that cannot be read
// becomes ProfileReadError (a ValueError carrying source, json_path and problem).
// std::invalid_argument (a bad query word or number, profiles of different clock rates, malformed
// partial bytes) is pybind11's ValueError already.
#include <Python.h>

#include <exception>

#include <zel_package/storage.hpp>

#include "bindings.hpp"

namespace py = pybind11;

namespace zel_python {
namespace {

// Created once with the module and kept for the life of the process.
PyObject* read_error_type = nullptr;

void raise_read_error(const zel_package::ProfileReadError& error) {
  py::object type = py::reinterpret_borrow<py::object>(read_error_type);
  py::object instance = type(error.what());
  instance.attr("source") = error.source();
  instance.attr("json_path") = error.json_path();
  instance.attr("problem") = error.problem();
  PyErr_SetObject(read_error_type, instance.ptr());
}

}  // namespace

void bind_errors(py::module_& module) {
  read_error_type = PyErr_NewExceptionWithDoc(
      "zel_profile.ProfileReadError",
      "A stored profile that cannot be read. str() is the whole message; the attributes source "
      "(file name, '-' for standard input), json_path (such as 'tiles[3].samples[17][2]', empty "
      "when the problem is not at one place) and problem (what was wrong) give its parts.",
      PyExc_ValueError, nullptr);
  if (read_error_type == nullptr) throw py::error_already_set();
  module.add_object("ProfileReadError", py::handle(read_error_type));

  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const zel_package::ProfileReadError& error) {
      raise_read_error(error);
    }
  });
}

}  // namespace zel_python
