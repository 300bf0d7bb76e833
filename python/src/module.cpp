// The compiled part of the zel_profile Python package; zel_profile/__init__.py is its front.
#include <pybind11/pybind11.h>

#include "bindings.hpp"

PYBIND11_MODULE(_core, module) {
  module.doc() = "The zel-profile query engine (compiled part of the zel_profile package).";
  zel_python::bind_errors(module);
  zel_python::bind_report(module);
  zel_python::bind_queries(module);
  zel_python::bind_partials(module);
  zel_python::bind_frames(module);
  zel_python::bind_views(module);
  zel_python::bind_profile_info(module);
  zel_python::bind_pickling(module);
}
