// The C++ errors a caller can cause, as Python exceptions: a stored profile that cannot be read
// becomes ProfileReadError (a ValueError carrying source, json_path and problem).
// std::invalid_argument (a bad query word or number, profiles of different clock rates, malformed
// partial bytes) is ValueError and std::runtime_error RuntimeError, as pybind11 makes them, but
// with bytes of a message that are not UTF-8 (from a file name) written as \xNN.
#include <Python.h>

#include <exception>
#include <stdexcept>

#include <zel_storage/storage.hpp>

#include "bindings.hpp"

namespace py = pybind11;

namespace zel_python {
namespace {

// Created once with the module and kept for the life of the process.
PyObject* read_error_type = nullptr;

void raise_read_error(const zel_storage::ProfileReadError& error) {
  py::object type = py::reinterpret_borrow<py::object>(read_error_type);
  py::object instance = type(message_text(error.what()));
  instance.attr("source") = file_name_text(error.source());
  instance.attr("json_path") = message_text(error.json_path());
  instance.attr("problem") = message_text(error.problem());
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
    } catch (const zel_storage::ProfileReadError& error) {
      raise_read_error(error);
    } catch (const py::builtin_exception&) {
      throw;  // pybind11's own Python errors
    } catch (const py::error_already_set&) {
      throw;
    } catch (const std::range_error&) {
      throw;  // pybind11's own: ValueError
    } catch (const std::overflow_error&) {
      throw;  // OverflowError
    } catch (const std::runtime_error& error) {
      // "cannot write NAME: ..." may quote a file name that is not UTF-8.
      PyErr_SetObject(PyExc_RuntimeError, message_text(error.what()).ptr());
    } catch (const std::invalid_argument& error) {
      PyErr_SetObject(PyExc_ValueError, message_text(error.what()).ptr());
    }
  });
}

}  // namespace zel_python
